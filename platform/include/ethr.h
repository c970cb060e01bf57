/* Mutexes of the thread library. */
#ifndef TAVIRON_ETHR_H
#define TAVIRON_ETHR_H

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

typedef struct Ethr_Mutex Ethr_Mutex;

/* A new unlocked mutex, or null when it cannot be made. */
Ethr_Mutex *ethr_MutexCreate(void);
/* Lock and unlock; both return 0 on success and -1 for a null mutex. Not recursive. */
int ethr_MutexLock(Ethr_Mutex *mutex);
int ethr_MutexUnlock(Ethr_Mutex *mutex);
/* Destroys an unlocked mutex; null is accepted. */
void ethr_MutexDestroy(Ethr_Mutex *mutex);

TAVIRON_END_DECLS

#endif
