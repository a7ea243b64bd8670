/* Returns its own exit code: a wine that only pretends to run a program of this width (one
   without the system's 32-bit support returns 0 without running it) is told apart from one that
   runs it. */
int main(void) {
    return 42;
}
