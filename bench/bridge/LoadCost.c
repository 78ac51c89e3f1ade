// One dlopen of the given library in this fresh process: prints the wall time it took in
// microseconds and how many shared objects it added to the process.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <stdio.h>
#include <time.h>

static int countObject(struct dl_phdr_info* info, size_t size, void* data) {
    (void)info;
    (void)size;
    ++*(int*)data;
    return 0;
}

static int loadedObjects(void) {
    int count = 0;
    dl_iterate_phdr(countObject, &count);
    return count;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: quorvel_bridge_load LIBRARY\n");
        return 2;
    }
    int before = loadedObjects();
    struct timespec start;
    struct timespec end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!library) {
        fprintf(stderr, "quorvel_bridge_load: %s\n", dlerror());
        return 1;
    }
    double micros =
        (double)(end.tv_sec - start.tv_sec) * 1e6 + (double)(end.tv_nsec - start.tv_nsec) / 1e3;
    printf("%.0f %d\n", micros, loadedObjects() - before);
    return 0;
}
