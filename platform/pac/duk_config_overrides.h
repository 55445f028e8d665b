/* Tarnwell's settings for Duktape when it runs proxy auto-config scripts:
 * put in place of the overrides marker of Debian's duk_config.h by
 * platform/pac/CMakeLists.txt. The functions are DuktapePac.cpp's. */
#if defined(__cplusplus)
extern "C" {
#endif
int tarnwell_pac_expired(void *udata);                  /* the run's deadline has passed */
int tarnwell_pac_tick(void *udata, unsigned long cost); /* the same, read once in so much work */
int tarnwell_pac_stack_low(void);                       /* the run has used its native stack */
#if defined(__cplusplus)
}
#endif

/* The executor reads the deadline every so many instructions and throws a
 * RangeError until the script is left once it has passed. */
#define DUK_USE_INTERRUPT_COUNTER
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) tarnwell_pac_expired((udata))
/* Deep recursion (the compiler, regular expressions, JSON, calls) ends in a
 * RangeError before the thread's stack runs out. */
#define DUK_USE_NATIVE_STACK_CHECK() tarnwell_pac_stack_low()
/* Loops of built-ins, which the executor does not interrupt, charge their
 * work to the deadline: property reads, regular expression steps, string
 * searches (the copied duktape.c is patched to call this). */
#define TARNWELL_PAC_CHARGE(thr, cost) \
	do { \
		if (tarnwell_pac_tick((thr)->heap->heap_udata, (unsigned long) (cost))) { \
			DUK_ERROR_RANGE((thr), "execution timeout"); \
		} \
	} while (0)
