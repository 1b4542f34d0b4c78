// Entry point of lumconv. Start-up comes with the run-time frame.
int main() { return 0; }
