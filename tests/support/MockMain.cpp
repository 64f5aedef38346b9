// main() of the test programs that run on the mock bus: the mock's preload
// must be in place from the start, so the program re-executes itself with it
// (listing the tests needs no mock). Under the mock, sanitizer reports go to
// standard error, and any report fails the test.
#include "MockBoard.h"

#include <gtest/gtest.h>

#include <vector>

int main(int argc, char** argv)
{
    std::vector<char*> original(argv, argv + argc + 1); // gtest removes its flags from argv
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    if (!RunUnderMockPreload(original.data()))
        return 1;
    return RUN_ALL_TESTS();
}
