// Placeholder: the agent entry is being written.
int main() { return 0; }
