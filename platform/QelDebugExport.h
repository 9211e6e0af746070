// Symbol export for the diagnostics library (Qel::Debug).
#ifndef QEL_PLATFORM_QELDEBUGEXPORT_H
#define QEL_PLATFORM_QELDEBUGEXPORT_H

// Linux shared objects import and export with the same attribute; symbols are
// hidden by default, so everything public is marked.
#define QELDEBUG_API __attribute__((visibility("default")))

#endif
