/* Four threads that pass a token round through Wine server events, allocating as they go.
 * The bootstrap runs it where 32-bit code is emulated: an unsuitable emulator crashes here.
 * Prints "threads ok" and exits 0 when every thread did its share. */
#include <windows.h>
#include <stdio.h>

#define THREADS 4
#define ROUNDS 200

static HANDLE turn[THREADS];
static volatile LONG passes;

static DWORD WINAPI worker(void* arg)
{
    int me = (int)(INT_PTR)arg;
    for (int i = 0; i < ROUNDS; ++i) {
        if (WaitForSingleObject(turn[me], 30000) != WAIT_OBJECT_0)
            return 1;
        void* block = HeapAlloc(GetProcessHeap(), 0, 4096 * (me + 1));
        if (!block)
            return 2;
        HeapFree(GetProcessHeap(), 0, block);
        InterlockedIncrement(&passes);
        SetEvent(turn[(me + 1) % THREADS]);
    }
    return 0;
}

int main(void)
{
    HANDLE threads[THREADS];
    for (int i = 0; i < THREADS; ++i)
        turn[i] = CreateEventW(NULL, FALSE, i == 0, NULL);
    for (int i = 0; i < THREADS; ++i) {
        threads[i] = CreateThread(NULL, 0, worker, (void*)(INT_PTR)i, 0, NULL);
        if (!threads[i])
            return 3;
    }
    if (WaitForMultipleObjects(THREADS, threads, TRUE, 120000) != WAIT_OBJECT_0)
        return 4;
    for (int i = 0; i < THREADS; ++i) {
        DWORD code = 1;
        if (!GetExitCodeThread(threads[i], &code) || code != 0)
            return 5;
    }
    if (passes != THREADS * ROUNDS)
        return 6;
    printf("threads ok\n");
    return 0;
}
