#include <cstdio>

int main()
{
    std::fprintf(stderr, "lumora-sql: not built yet\n");
    return 1;
}
