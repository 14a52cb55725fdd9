// Stands in for a program the client conversation launches: appends one line to the file
// named by its argument, so a test can count launches.
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::FILE* file = std::fopen(argv[1], "a");
    if (!file) return 1;
    std::fputs("launched\n", file);
    std::fclose(file);
    return 0;
}
