// Symbol export for the core library (Qel::ChartCore).
#ifndef QEL_CORE_QELCOREEXPORT_H
#define QEL_CORE_QELCOREEXPORT_H

#define QELCORE_API __attribute__((visibility("default")))

#endif
