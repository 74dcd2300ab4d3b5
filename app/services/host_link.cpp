#include "app/services/host_link.h"

static service_host attached = {};

void services_attach_host(const service_host &host) { attached = host; }

const service_host &the_host(void) { return attached; }
