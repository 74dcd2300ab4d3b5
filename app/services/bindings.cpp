#include "app/services/bindings.h"

#include "app/services/desktop.h"
#include "app/services/device_secret.h"
#include "app/services/owner_key.h"
#include "app/services/pin_attempts.h"
#include "app/services/update.h"
#include "app/services/vault.h"

const msw_binding msw_bindings[] = {
    {"msw_read_vault", msw_read_vault},
    {"msw_write_vault", msw_write_vault},
    {"msw_device_secret", msw_device_secret},
    {"msw_pin_start", msw_pin_start},
    {"msw_pin_result", msw_pin_result},
    {"msw_wipe", msw_wipe},
    {"msw_set_panic", msw_set_panic},
    {"msw_attention", msw_attention},
    {"msw_title", msw_title},
    {"msw_copy", msw_copy},
    {"msw_paste", msw_paste},
    {"msw_owner_key", msw_owner_key},
    {"msw_owner_secret", msw_owner_secret},
    {"msw_startup", msw_startup},
    {"msw_focused", msw_focused},
    {"msw_notify_setup", msw_notify_setup},
    {"msw_notify", msw_notify},
    {"msw_update", msw_update},
    {"msw_update_install", msw_update_install},
};

const int msw_binding_count = sizeof msw_bindings / sizeof msw_bindings[0];
