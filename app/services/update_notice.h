#pragma once
// A copy that can't install a release by itself downloads nothing: the page is told that
// the version exists and where to get it, and remembers nothing of its own before unlock,
// so whether this version was told of before is kept here, beside the vault
// (update-notice.txt in the app data folder, the last tag told of).
#include <string>

#include "app/platform/process.h"

// Why this copy can't install by itself, as the page names it: "package" (the package
// manager installed it: a newer package updates it), "protected" (its file or folder can't
// be changed by this user), "unsigned" (built without the owner's key, so it can't tell a
// release from a forgery); null when it can.
const char *update_notice_reason(executable_owner replacer, bool has_owner_key);

// The answer for such a copy: {"notice":REASON,"url":ADDRESS,"told":BOOL}, where ADDRESS is
// the release's page below the download base and told says whether this tag was told of
// before. Notes the tag as told.
std::string update_notice(const char *reason, const std::string &base, const std::string &tag);
