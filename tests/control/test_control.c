/*
 * Control modules for the tests, one behaviour each, chosen by a compile definition:
 * CREATE_FAILS, CALL_FAILS (with a UTF-8 message), CALL_FAILS_WITHOUT_MESSAGE, NO_FREE (lacks
 * quillgate_control_free) or COUNTS_CALLS (returns the number of the call as text, keeping
 * the count unguarded so that overlapping calls show as a data race).
 */
#include <quillgate/control_module.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int quillgate_control_create(void) {
#ifdef CREATE_FAILS
    return 1;
#else
    return 0;
#endif
}

#ifdef COUNTS_CALLS
static unsigned long calls;

int quillgate_control_get_uselist(const uint16_t** text, size_t* length, const char** error) {
    char digits[24];
    int count = snprintf(digits, sizeof digits, "%lu", ++calls);
    uint16_t* units = malloc((size_t)count * sizeof *units);
    if (!units) {
        *error = NULL;
        return 1;
    }
    for (int i = 0; i < count; ++i)
        units[i] = (uint16_t)digits[i];
    *text = units;
    *length = (size_t)count;
    return 0;
}
#else
/* Fails every call; after a failed creation it must not be called at all. */
int quillgate_control_get_uselist(const uint16_t** text, size_t* length, const char** error) {
    (void)text;
    (void)length;
#ifdef CALL_FAILS_WITHOUT_MESSAGE
    *error = NULL;
#else
    *error = strdup("设备未连接 (device not connected)");
#endif
    return 7;
}
#endif

#ifndef NO_FREE
void quillgate_control_free(const void* p) {
    free((void*)p);
}
#endif
