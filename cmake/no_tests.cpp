// Stands in for a test program when the tests are not built.
int main() { return 0; }
