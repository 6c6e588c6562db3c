/*
 * The camera's common board library: system helpers shared by the camera's
 * programs.
 */
#ifndef BVCOMMON_H
#define BVCOMMON_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Writes all dirty data back to storage, then has the kernel release its
 * file caches (page cache, dentries and inodes). 0, or -1 when the caches
 * could not be released.
 */
int bv_free_system_caches(void);

#ifdef __cplusplus
}
#endif

#endif
