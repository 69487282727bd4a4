/* Symbol visibility for libhvl: only what carries HVL_API is exported. */
#ifndef HVL_EXPORT_H
#define HVL_EXPORT_H

#if defined(HVL_BUILDING_LIBRARY) && defined(__GNUC__)
#define HVL_API __attribute__((visibility("default")))
#else
#define HVL_API
#endif

#ifdef __cplusplus
#define HVL_BEGIN_DECLS extern "C" {
#define HVL_END_DECLS }
#else
#define HVL_BEGIN_DECLS
#define HVL_END_DECLS
#endif

#endif /* HVL_EXPORT_H */
