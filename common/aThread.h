/*
 * aThread.h - a joinable thread handle. Whoever creates a thread destroys it,
 * and destroying joins: no thread outlives its owner.
 */
#pragma once

typedef struct aThreadRecord* aThreadRef;
typedef void* (*aThreadProc)(void* arg);

aThreadRef aThread_Create(aThreadProc entry, void* arg);

/* Waits for the thread to end; returns the join's result (0 or an errno value). */
int aThread_Destroy(aThreadRef& thread);

void aThread_Yield();
