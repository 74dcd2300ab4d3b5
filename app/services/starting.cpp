#include "app/services/starting.h"

#include "app/platform/files.h"
#include "app/services/update_install.h"

void services_starting(void) {
  app_folder();
  update_cleanup_start();
}
