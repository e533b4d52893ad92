int main() { return 0; } // placeholder until this benchmark is written
