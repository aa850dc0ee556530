/*
 * Quillgate security control modules.
 *
 * A security control module is a shared library that Quillgate loads at start-up from the path
 * in the environment variable QUILLGATE_CONTROL_MODULE. It exports these three functions with
 * C linkage. Quillgate serialises its calls: no two of them run at the same time.
 */
#ifndef QUILLGATE_CONTROL_MODULE_H
#define QUILLGATE_CONTROL_MODULE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called once, when the control is created. Non-zero: creation failed, and Quillgate makes
 * no further call into the module. */
int quillgate_control_create(void);

/* Reads the user list. On success returns 0 and sets *text to the list as UTF-16 code units
 * (it may hold NULs) and *length to their number; *text may be NULL when *length is 0.
 * On failure returns non-zero and sets *error to a NUL-terminated UTF-8 message, or NULL. */
int quillgate_control_get_uselist(const uint16_t** text, size_t* length, const char** error);

/* Releases a text or message that quillgate_control_get_uselist handed out. */
void quillgate_control_free(const void* p);

#ifdef __cplusplus
}
#endif

#endif
