/* Builds the Duktape engine from the source that the duktape-dev package installs,
 * with the execution-timeout hook switched on: Debian's shared libduktape is built
 * without it, and a converter script that never ends must not hold the engine.
 *
 * The package's configuration is included first, then amended; its include guard
 * makes the engine's own include of duk_config.h a no-op, so the amendments stand. */
#define DUK_COMPILING_DUKTAPE
#include "duk_config.h"

#define DUK_USE_INTERRUPT_COUNTER
#undef DUK_USE_EXEC_TIMEOUT_CHECK
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) quillon_duk_exec_timeout(udata)

#include "bacnet/duk_exec_timeout.h"

#include "duktape.c"

#include <time.h>

static long long monotonic_now_ns(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct quillon_duk_deadline quillon_duk_deadline_after(long long milliseconds) {
    struct quillon_duk_deadline deadline;
    deadline.monotonic_ns = monotonic_now_ns() + milliseconds * 1000000LL;
    return deadline;
}

int quillon_duk_exec_timeout(void* heap_udata) {
    const struct quillon_duk_deadline* deadline = (const struct quillon_duk_deadline*)heap_udata;
    return deadline != NULL && monotonic_now_ns() >= deadline->monotonic_ns;
}
