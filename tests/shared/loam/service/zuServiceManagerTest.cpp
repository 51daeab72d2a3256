#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <string>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformService.h"
#include "loam/service/zuServiceManager.h"
#include "shared/loam/platform/PlatformTestSupport.h"

namespace zp = zuPlatform;

namespace {

using namespace std::string_literals;

// The helper program's dispatcher serves this name.
constexpr const char* kName = "Tw Test Service";

std::string quotedHelper() { return "\"" + tw::test::kHelperProgram + "\""; }

class ServiceManagerTest : public tw::test::PlatformRootTest {
 protected:
  void TearDown() override { tw::test::killServiceProcess(kName); }

  static bool reaches(zuServiceManager& sm, u32 state) {
    return tw::test::eventually([&] { return sm.currentState(kName) == state; });
  }
};

TEST_F(ServiceManagerTest, CreateStartStopRemoveEndToEnd) {
  zuServiceManager sm;
  EXPECT_FALSE(sm.isInstalled(kName));
  EXPECT_EQ(sm.lastError(), zp::kErrorServiceDoesNotExist);

  const std::string image = quotedHelper() + " service";
  ASSERT_TRUE(sm.create(kName, "", image, {"tcpip"})) << sm.lastError();
  EXPECT_TRUE(sm.isInstalled(kName));
  EXPECT_TRUE(zuServiceManager().isInstalled("TW TEST SERVICE"));  // any case, as on Windows

  const zp::QueryServiceConfig* config = sm.queryConfig(kName);
  ASSERT_NE(config, nullptr) << sm.lastError();
  EXPECT_EQ(config->serviceType, zp::kServiceWin32OwnProcess);
  EXPECT_EQ(config->startType, zp::kServiceAutoStart);
  EXPECT_EQ(config->errorControl, zp::kServiceErrorNormal);
  EXPECT_STREQ(config->binaryPathName, image.c_str());  // with its quotes
  EXPECT_EQ(std::string(config->dependencies, 7), "tcpip\0\0"s);
  EXPECT_STREQ(config->serviceStartName, zp::kLocalSystemAccount);
  EXPECT_STREQ(config->displayName, kName);

  // Another manager, as another user of the service would have.
  zuServiceManager other;
  EXPECT_FALSE(other.create(kName, "Again", image, {}));
  EXPECT_EQ(other.lastError(), zp::kErrorServiceExists);
  EXPECT_FALSE(other.stop(kName));
  EXPECT_EQ(other.lastError(), zp::kErrorServiceNotActive);

  EXPECT_EQ(sm.currentState(kName), zp::kServiceStopped);
  ASSERT_TRUE(sm.start(kName)) << sm.lastError();
  ASSERT_TRUE(reaches(sm, zp::kServiceRunning));
  EXPECT_FALSE(other.start(kName));
  EXPECT_EQ(other.lastError(), zp::kErrorServiceAlreadyRunning);

  ASSERT_TRUE(sm.stop(kName)) << sm.lastError();
  ASSERT_TRUE(reaches(sm, zp::kServiceStopped));

  ASSERT_TRUE(sm.remove(kName)) << sm.lastError();
  EXPECT_FALSE(other.isInstalled(kName));
  EXPECT_EQ(other.lastError(), zp::kErrorServiceDoesNotExist);
}

TEST_F(ServiceManagerTest, MissingServiceFailsEveryCallWithTheSystemError) {
  struct Call {
    const char* what;
    bool (*run)(zuServiceManager&);
  };
  const Call calls[] = {
      {"isInstalled", [](zuServiceManager& m) { return m.isInstalled("Nobody"); }},
      {"remove", [](zuServiceManager& m) { return m.remove("Nobody"); }},
      {"queryStatus",
       [](zuServiceManager& m) {
         zp::ServiceStatus s;
         return m.queryStatus("Nobody", s);
       }},
      {"currentState", [](zuServiceManager& m) { return m.currentState("Nobody") != 0; }},
      {"queryConfig", [](zuServiceManager& m) { return m.queryConfig("Nobody") != nullptr; }},
      {"start", [](zuServiceManager& m) { return m.start("Nobody"); }},
      {"stop", [](zuServiceManager& m) { return m.stop("Nobody"); }},
  };
  for (const Call& c : calls) {
    zuServiceManager sm;
    EXPECT_EQ(sm.lastError(), 0u);
    EXPECT_FALSE(c.run(sm)) << c.what;
    EXPECT_EQ(sm.lastError(), zp::kErrorServiceDoesNotExist) << c.what;
    EXPECT_EQ(sm.serviceHandle(), zp::kScHandleNone) << c.what;
  }
}

TEST_F(ServiceManagerTest, HandleIsReusedOnlyForTheSameNameWithEveryAccessBit) {
  zuServiceManager setup;
  ASSERT_TRUE(setup.create(kName, "", quotedHelper() + " service", {})) << setup.lastError();
  // The created handle has every right, so later calls on it need no reopen.
  const zp::ScHandle created = setup.serviceHandle();
  EXPECT_NE(setup.queryConfig(kName), nullptr);
  EXPECT_EQ(setup.currentState(kName), zp::kServiceStopped);
  EXPECT_EQ(setup.serviceHandle(), created);

  zuServiceManager sm;
  EXPECT_EQ(sm.currentState(kName), zp::kServiceStopped);
  const zp::ScHandle first = sm.serviceHandle();
  EXPECT_EQ(sm.currentState(kName), zp::kServiceStopped);
  EXPECT_EQ(sm.serviceHandle(), first);

  // More access bits than the open handle holds: opened again with them, so
  // the start is not refused for want of a right.
  ASSERT_TRUE(sm.start(kName)) << sm.lastError();
  const zp::ScHandle second = sm.serviceHandle();
  EXPECT_NE(second, first);
  ASSERT_TRUE(reaches(sm, zp::kServiceRunning));
  EXPECT_NE(sm.serviceHandle(), second);  // the status right is not among the start's

  // The name is compared exactly, so another case opens again too.
  const zp::ScHandle third = sm.serviceHandle();
  EXPECT_EQ(sm.currentState("tw test service"), zp::kServiceRunning);
  EXPECT_NE(sm.serviceHandle(), third);
  ASSERT_TRUE(sm.stop(kName)) << sm.lastError();
  ASSERT_TRUE(reaches(sm, zp::kServiceStopped));
}

TEST_F(ServiceManagerTest, LongImagePathComesBackWholeAndEmptyDependenciesAsAnEmptyBlock) {
  // Arguments long enough that the configuration outgrows any small first guess.
  const std::string image = quotedHelper() + " service " + std::string(3000, 'a');
  zuServiceManager sm;
  ASSERT_TRUE(sm.create(kName, "Shown Name", image, {})) << sm.lastError();
  zuServiceManager reader;
  const zp::QueryServiceConfig* config = reader.queryConfig(kName);
  ASSERT_NE(config, nullptr) << reader.lastError();
  EXPECT_EQ(std::string(config->binaryPathName), image);
  EXPECT_EQ(config->dependencies[0], '\0');
  EXPECT_STREQ(config->displayName, "Shown Name");
}

}  // namespace
