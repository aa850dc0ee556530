/*
 * Sample security control module. Its user list is a UTF-8 text file: the file named by
 * QUILLGATE_SAMPLE_USERLIST, else userlist.txt in the folder of this module. Edits show on the
 * next call: the decoded list is kept only while the file's identity, size and times stay as
 * they were when it was read.
 */
#define _GNU_SOURCE
#include <quillgate/control_module.h>

#include <dlfcn.h>
#include <errno.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

static const char default_list_name[] = "userlist.txt";

/* Joins the folder part of prefix_of with name. Returns a malloc'd string or NULL. */
static char* beside(const char* prefix_of, const char* name) {
    const char* slash = strrchr(prefix_of, '/');
    size_t folder_length = slash ? (size_t)(slash - prefix_of + 1) : 0;
    char* path = malloc(folder_length + strlen(name) + 1);
    if (path) {
        memcpy(path, prefix_of, folder_length);
        strcpy(path + folder_length, name);
    }
    return path;
}

/* The user list's path as a malloc'd string, or NULL when memory runs out. */
static char* user_list_path(void) {
    const char* configured = getenv("QUILLGATE_SAMPLE_USERLIST");
    if (configured)
        return strdup(configured);
    Dl_info module;
    if (!dladdr((void*)&user_list_path, &module) || !module.dli_fname)
        return strdup(default_list_name);
    return beside(module.dli_fname, default_list_name);
}

/* Reads a whole file into a malloc'd buffer. Returns 0, or the errno value of the failure. */
static int read_file(const char* path, unsigned char** bytes, size_t* size) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return errno;
    unsigned char* buffer = NULL;
    size_t used = 0, capacity = 0, got;
    int failure = 0;
    do {
        if (used == capacity) {
            capacity = capacity ? 2 * capacity : 4096;
            unsigned char* grown = realloc(buffer, capacity);
            if (!grown) {
                failure = ENOMEM;
                break;
            }
            buffer = grown;
        }
        got = fread(buffer + used, 1, capacity - used, file);
        used += got;
    } while (got > 0);
    if (!failure && ferror(file))
        failure = errno ? errno : EIO;
    fclose(file);
    if (failure) {
        free(buffer);
        return failure;
    }
    *bytes = buffer;
    *size = used;
    return 0;
}

/* The length of the UTF-8 sequence a lead byte starts, or 0 when it starts none. */
static size_t sequence_length(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

/* Decodes the UTF-8 character at s (n > 0 bytes left) and sets *used to its length. A byte
 * that does not start a valid, shortest-form sequence gives U+FFFD and *used 1. */
static unsigned long decode_utf8(const unsigned char* s, size_t n, size_t* used) {
    static const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    size_t length = sequence_length(s[0]);
    *used = 1;
    if (length == 1)
        return s[0];
    if (length == 0 || length > n)
        return 0xFFFD;
    unsigned long c = s[0] & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0xFFFD;
        c = (c << 6) | (s[i] & 0x3F);
    }
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0xFFFD;
    *used = length;
    return c;
}

/* UTF-8 to UTF-16 in a malloc'd buffer, or NULL when memory runs out. A text never needs more
 * UTF-16 units than it has bytes. */
static uint16_t* to_utf16(const unsigned char* bytes, size_t size, size_t* length) {
    uint16_t* text = malloc((size ? size : 1) * sizeof *text);
    if (!text)
        return NULL;
    size_t units = 0;
    for (size_t i = 0, used; i < size; i += used) {
        unsigned long c = decode_utf8(bytes + i, size - i, &used);
        if (c >= 0x10000) {
            text[units++] = (uint16_t)(0xD800 + ((c - 0x10000) >> 10));
            c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        text[units++] = (uint16_t)c;
    }
    *length = units;
    return text;
}

/* "cannot read user list <path>: <reason>" in a malloc'd string, or NULL. */
static char* read_error(const char* path, int failure) {
    static const char format[] = "cannot read user list %s: %s";
    const char* reason = strerror(failure);
    int size = snprintf(NULL, 0, format, path, reason) + 1;
    char* message = malloc((size_t)size);
    if (message)
        snprintf(message, (size_t)size, format, path, reason);
    return message;
}

/* The list last read, with what its file looked like then. The host serialises calls. */
static struct {
    char* path;
    struct stat file;
    struct timespec read_at;
    uint16_t* text;
    size_t length;
} kept;

static bool same_time(struct timespec a, struct timespec b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

/* File times move in coarse ticks, so a file changed less than a second before it was read may
 * change again without its times showing it: such a read is not trusted. */
static bool settled_before_read(const struct stat* file, struct timespec read_at) {
    time_t last_change = file->st_mtim.tv_sec > file->st_ctim.tv_sec ? file->st_mtim.tv_sec
                                                                      : file->st_ctim.tv_sec;
    return last_change + 1 < read_at.tv_sec;
}

static bool kept_list_is_current(const char* path) {
    struct stat now;
    return kept.path && strcmp(kept.path, path) == 0 &&
           settled_before_read(&kept.file, kept.read_at) && stat(path, &now) == 0 &&
           now.st_dev == kept.file.st_dev &&
           now.st_ino == kept.file.st_ino && now.st_size == kept.file.st_size &&
           same_time(now.st_mtim, kept.file.st_mtim) && same_time(now.st_ctim, kept.file.st_ctim);
}

static void forget_kept_list(void) {
    free(kept.path);
    free(kept.text);
    memset(&kept, 0, sizeof kept);
}

/* The kept list goes when the module is unloaded. */
__attribute__((destructor)) static void release_kept_list(void) {
    forget_kept_list();
}

/* Reads and decodes the list at path into kept, which then owns path. Returns 0, or the errno
 * value of the failure; kept is empty after a failure and path stays the caller's. */
static int read_list(char* path) {
    forget_kept_list();
    struct stat file;
    struct timespec read_at;
    if (stat(path, &file) != 0 || clock_gettime(CLOCK_REALTIME, &read_at) != 0)
        return errno;
    unsigned char* bytes = NULL;
    size_t size = 0;
    int failure = read_file(path, &bytes, &size);
    if (failure)
        return failure;
    kept.text = to_utf16(bytes, size, &kept.length);
    free(bytes);
    if (!kept.text)
        return ENOMEM;
    kept.path = path;
    kept.file = file;
    kept.read_at = read_at;
    return 0;
}

/* A malloc'd copy of the kept list, or NULL when memory runs out. */
static uint16_t* copy_of_kept_list(void) {
    size_t bytes = (kept.length ? kept.length : 1) * sizeof *kept.text;
    uint16_t* copy = malloc(bytes);
    if (copy)
        memcpy(copy, kept.text, kept.length * sizeof *kept.text);
    return copy;
}

int quillgate_control_create(void) {
    return 0;
}

int quillgate_control_get_uselist(const uint16_t** text, size_t* length, const char** error) {
    *error = NULL;
    char* path = user_list_path();
    if (!path)
        return ENOMEM;
    if (kept_list_is_current(path)) {
        free(path);
    } else {
        int failure = read_list(path);
        if (failure) {
            *error = read_error(path, failure);
            free(path);
            return failure;
        }
    }
    *length = kept.length;
    *text = copy_of_kept_list();
    return *text ? 0 : ENOMEM;
}

void quillgate_control_free(const void* p) {
    free((void*)p);
}
