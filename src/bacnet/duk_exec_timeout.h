/* Run-time bound for Duktape scripts: the hook our Duktape build calls from its
 * execution-timeout check, and the deadline a heap carries as its user data. */
#ifndef QUILLON_BACNET_DUK_EXEC_TIMEOUT_H
#define QUILLON_BACNET_DUK_EXEC_TIMEOUT_H

#ifdef __cplusplus
extern "C" {
#endif

/* A point on CLOCK_MONOTONIC. A heap created with a pointer to one as its user data
 * throws "RangeError: execution timeout" from every bytecode interrupt after it. */
struct quillon_duk_deadline {
    long long monotonic_ns;
};

/* A deadline `milliseconds` from now. */
struct quillon_duk_deadline quillon_duk_deadline_after(long long milliseconds);

/* The DUK_USE_EXEC_TIMEOUT_CHECK hook: non-zero once the heap's deadline has passed.
 * A heap without user data is never bounded. */
int quillon_duk_exec_timeout(void* heap_udata);

#ifdef __cplusplus
}
#endif

#endif
