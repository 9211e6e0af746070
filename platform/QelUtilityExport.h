// Symbol export for the utility library (Qel::ChartUtility).
#ifndef QEL_PLATFORM_QELUTILITYEXPORT_H
#define QEL_PLATFORM_QELUTILITYEXPORT_H

#define QELUTILITY_API __attribute__((visibility("default")))

#endif
