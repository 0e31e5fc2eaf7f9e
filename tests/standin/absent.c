/* A library that the test build makes but never puts on the search path. */
void absentDependency(void);
void absentDependency(void) {}
