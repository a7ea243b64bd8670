/* The test executables do nothing but end normally. */
int main(void) { return 0; }
