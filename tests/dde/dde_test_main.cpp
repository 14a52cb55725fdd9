// The DDE tests run in a process shaped like the program: an application object and its
// one DDE manager (service name "test_dde", from this executable's file name).
#include "dde/MyDdeman.h"
#include "tests/dde/dde_test_util.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    velkor::TApplication app;
    new velkor::TDdeMgr(app);
    SetTestApplication(app);
    return RUN_ALL_TESTS();
}
