// Runs the tests in a process whose LC_CTYPE is UTF-8 from the start, as the
// program's is once Qt has switched a locale without UTF-8 to C.UTF-8.
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
