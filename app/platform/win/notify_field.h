#pragma once
// The texts of a notification as the shell takes them: UTF-16 in fields of a fixed number
// of units with their terminator.
#include <stddef.h>

#include <string>

// The shell's fields: 64 units of title and 256 of text, terminators included.
constexpr size_t notification_title_room = 64;
constexpr size_t notification_body_room = 256;

// One field's text. Longer text is cut at the last whole character that fits, never
// between the two halves of a surrogate pair.
std::wstring notification_text(const char *utf8, size_t room);

// Title and text for the shell. The shell shows nothing for a notification without text,
// so a title alone becomes the text. False when there is nothing to show.
bool notification_texts(const char *title, const char *body, std::wstring *heading, std::wstring *text);
