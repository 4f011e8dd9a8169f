// A step of a test-only installer package that fails, so that the tests see
// Windows Installer roll the installation back.
int main() { return 1; }
