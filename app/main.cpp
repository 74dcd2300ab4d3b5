// The program: the host runs the window and binds the native functions the services
// supply; the services reach the window through the host's calls handed over here. Every
// native call's handler is one step further: app/services/bindings.cpp.
#include "app/host/host.h"
#include "app/host/startup.h"
#include "app/services/bindings.h"
#include "app/services/host_link.h"
#include "app/services/starting.h"
#include "app/services/vault_worker.h"

int main(int argc, char **argv) {
  services_attach_host(service_host{host_reply, host_dispatch, host_terminate, host_main_window,
                                    host_set_title, host_show_window, host_add_tray_icon,
                                    host_set_blackout_key, host_raise_panic});
  return msw_start(argc, argv, host_wiring{msw_bindings, msw_binding_count, services_starting,
                                           vault_jobs_wait});
}
