#pragma once
// PlatformStoreFixture: an empty store (StoreFixture) and a fake platform running on
// loopback, for the tests of the jobs that read the store and talk to the platform. The test
// writes the settings row (support/store_rows.h) with the platform's address.

#include <gtest/gtest.h>

#include "fake-platform/fake_platform.h"
#include "support/store_fixture.h"

namespace zv::test {

class PlatformStoreFixture : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    if (StoreMissing()) return;
    CreateStore();
    platform_.Start(0);
  }

  // Connects and checks that the settings row names the fake platform.
  void ConnectOk() {
    Connect();
    ASSERT_TRUE(Service().DbConnected());
    ASSERT_EQ(Service().Settings().zentrovia_url1, platform_.BaseUrl());
  }

  fake::FakePlatform platform_;
};

}  // namespace zv::test
