/* Preloaded into the 32-bit Wine loader when it runs under qemu's user-mode emulation: qemu 7.2
 * takes MAP_FIXED_NOREPLACE as a mere hint and maps elsewhere when the address is taken, where the
 * kernel fails with EEXIST. Wine reserves its address space with that flag and, handed mappings in
 * the wrong place, retries for a minute of CPU a process. This wrapper gives the flag its kernel
 * meaning around the C library's own mmap64. Built freestanding (the host has no 32-bit C library
 * headers); dlsym, munmap and __errno_location come from the guest's C library at run time. */

#define MAP_FIXED_NOREPLACE 0x100000
#define EEXIST 17
#define RTLD_NEXT ((void *)-1l)

typedef unsigned int size_type;
typedef void *(*mmap64_function)(void *, size_type, int, int, int, long long);

void *dlsym(void *handle, const char *name);
int munmap(void *address, size_type length);
int *__errno_location(void);

void *mmap64(void *address, size_type length, int protection, int flags, int fd, long long offset)
{
    static mmap64_function next;
    if (!next) {
        next = (mmap64_function)dlsym(RTLD_NEXT, "mmap64");
    }
    void *mapped = next(address, length, protection, flags & ~MAP_FIXED_NOREPLACE, fd, offset);
    if ((flags & MAP_FIXED_NOREPLACE) && mapped != (void *)-1 && mapped != address) {
        munmap(mapped, length);
        *__errno_location() = EEXIST;
        return (void *)-1;
    }
    return mapped;
}

void *mmap(void *address, size_type length, int protection, int flags, int fd, long offset)
{
    return mmap64(address, length, protection, flags, fd, offset);
}
