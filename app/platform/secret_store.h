#pragma once
// Protecting a secret for this computer and this user: protect turns bytes into a sealed
// blob that only unprotect, run by the same user on the same computer, turns back. A
// copy of the blob on another computer or account fails to open. How the protection is
// anchored is the platform's business (on Linux a key in the Secret Service, else one
// bound to the machine).
#include <stddef.h>

#include <string>

// False when the secret could not be protected (nothing usable was made).
bool secret_protect(const unsigned char *data, size_t length, std::string *sealed);

// False when the blob is damaged, not ours, or its protection can't be reached now (a
// locked keyring); a later call may then still succeed.
bool secret_unprotect(const std::string &sealed, std::string *data);

// Makes the protection reachable before protect or unprotect, asking the person when the
// platform can ask (a locked keyring's unlock prompt) without blocking the window: done
// runs once, later from the main loop while a question is pending, or at once when there
// is nothing to ask. It carries no answer: a refusal leaves the protection as it was, and
// protect and unprotect then answer as they would without it.
void secret_store_prepare(void (*done)(void *user), void *user);
