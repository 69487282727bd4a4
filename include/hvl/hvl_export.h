/* Symbol visibility for libhvl: only what carries HVL_API is exported. */
#ifndef HVL_EXPORT_H
#define HVL_EXPORT_H

#if defined(HVL_BUILDING_LIBRARY) && defined(__GNUC__)
#define HVL_API __attribute__((visibility("default")))
#else
#define HVL_API
#endif

/* A function kept for old callers; the library itself may still call it. */
#if defined(__GNUC__) && !defined(HVL_BUILDING_LIBRARY)
#define HVL_DEPRECATED(text) __attribute__((deprecated(text)))
#else
#define HVL_DEPRECATED(text)
#endif

#ifdef __cplusplus
#define HVL_BEGIN_DECLS extern "C" {
#define HVL_END_DECLS }
#else
#define HVL_BEGIN_DECLS
#define HVL_END_DECLS
#endif

/* A layout that callers and the library must agree on, checked where it is declared. */
#if defined(__cplusplus)
#define HVL_ASSERT_LAYOUT(condition, text) static_assert(condition, text)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define HVL_ASSERT_LAYOUT(condition, text) _Static_assert(condition, text)
#else
#define HVL_ASSERT_NAME_(line) hvl_layout_check_##line
#define HVL_ASSERT_NAME(line) HVL_ASSERT_NAME_(line)
#define HVL_ASSERT_LAYOUT(condition, text)                                                         \
    typedef char HVL_ASSERT_NAME(__LINE__)[(condition) ? 1 : -1]
#endif

#endif /* HVL_EXPORT_H */
