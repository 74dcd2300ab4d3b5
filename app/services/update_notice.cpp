#include "app/services/update_notice.h"

#include "app/common/json_text.h"
#include "app/services/app_files.h"

static const char notice_file[] = "update-notice.txt";

const char *update_notice_reason(executable_owner replacer, bool has_owner_key) {
  if (replacer == owner_package_manager) return "package";
  if (replacer == owner_nobody) return "protected";
  if (!has_owner_key) return "unsigned";
  return nullptr;
}

std::string update_notice(const char *reason, const std::string &base, const std::string &tag) {
  std::string told_tag;
  bool told = read_app_file(notice_file, &told_tag) && told_tag == tag + "\n";
  // A failed write only means the page is told once more at the next start.
  if (!told) write_app_file(notice_file, (tag + "\n").data(), tag.size() + 1);
  return std::string("{\"notice\":\"") + reason + "\",\"url\":" + json_quoted(base + "/releases/tag/" + tag) +
         ",\"told\":" + (told ? "true" : "false") + "}";
}
