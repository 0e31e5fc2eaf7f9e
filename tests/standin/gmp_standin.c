/* A stand-in for the GMP shared library, for testing the binding's failure
 * paths. It exports the nine names the benchmark looks up, minus those the
 * build leaves out with -DOMIT_<name>. None of them is ever called: the
 * binding fails before the run starts. */

#define ENTRY(name) \
    void name(void); \
    void name(void) {}

#ifndef OMIT___gmpz_add
ENTRY(__gmpz_add)
#endif
#ifndef OMIT___gmpz_add_ui
ENTRY(__gmpz_add_ui)
#endif
#ifndef OMIT___gmpz_pow_ui
ENTRY(__gmpz_pow_ui)
#endif
#ifndef OMIT___gmpz_probab_prime_p
ENTRY(__gmpz_probab_prime_p)
#endif
#ifndef OMIT___gmpz_sub_ui
ENTRY(__gmpz_sub_ui)
#endif
#ifndef OMIT___gmpz_init_set_ui
ENTRY(__gmpz_init_set_ui)
#endif
#ifndef OMIT___gmp_printf
ENTRY(__gmp_printf)
#endif
#ifndef OMIT___gmpz_init_set_str
ENTRY(__gmpz_init_set_str)
#endif
#ifndef OMIT___gmpz_mod
ENTRY(__gmpz_mod)
#endif

#ifdef NEEDS_ABSENT
/* Linked against a library that is not on the search path at run time, so
 * that loading this one fails. */
void absentDependency(void);
void useAbsentDependency(void);
void useAbsentDependency(void) { absentDependency(); }
#endif
