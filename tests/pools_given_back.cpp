// Linked into every test program that builds models: at its end no node pool may be left, as
// one outliving its model and maps is memory nothing gives back. ctest runs each test in a
// process of its own, so the check names the test that kept a pool.
#include <gtest/gtest.h>

#include "tessel_client/model/node_pool.hpp"

namespace tessel {
namespace {

class PoolsGivenBack : public ::testing::Environment {
public:
    void TearDown() override {
        EXPECT_EQ(NodePool::live_pools(), 0u) << "node pools outlived every model and map";
    }
};

[[maybe_unused]] const ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new PoolsGivenBack);

}  // namespace
}  // namespace tessel
