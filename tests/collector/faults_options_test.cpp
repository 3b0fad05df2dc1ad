#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "collector/collector_options.h"
#include "collector/faults.h"

namespace kvt::collector {
namespace {

std::vector<std::uint64_t> hitsAmongFirst(const FaultSelection& selection, int count) {
    std::vector<std::uint64_t> hits;
    for (int k = 1; k <= count; ++k) {
        if (selection.hits(k)) {
            hits.push_back(k);
        }
    }
    return hits;
}

TEST(FaultTest, KindsValuesAndSelections) {
    const Fault delay = parseFault("delay=2500");
    EXPECT_EQ(delay.kind, FaultKind::Delay);
    EXPECT_EQ(delay.value, 2500);
    EXPECT_EQ(delay.when.mode, FaultSelection::Mode::Every);

    const Fault status = parseFault("status=503@3");
    EXPECT_EQ(status.kind, FaultKind::Status);
    EXPECT_EQ(status.value, 503);
    EXPECT_EQ(hitsAmongFirst(status.when, 10), (std::vector<std::uint64_t>{3}));

    const Fault share = parseFault("refuse-patient@25%");
    EXPECT_EQ(share.kind, FaultKind::RefusePatient);
    EXPECT_EQ(hitsAmongFirst(share.when, 12), (std::vector<std::uint64_t>{4, 8, 12}));
    EXPECT_EQ(hitsAmongFirst(parseFault("drop@100%").when, 3).size(), 3u);
    EXPECT_EQ(hitsAmongFirst(parseFault("drop@30%").when, 100).size(), 30u);

    EXPECT_EQ(parseFault("stall").value, 60000);
    EXPECT_TRUE(parseFault("connect-status=503").onConnect());
    EXPECT_FALSE(parseFault("get-only").onConnect());
}

TEST(FaultTest, MistakesAreRefused) {
    for (const char* wrong :
         {"explode", "delay", "delay=0", "delay=abc", "status=200", "status=600", "drop=5",
          "drop@0", "drop@0%", "drop@101%", "drop@x", "refuse-patient@"}) {
        EXPECT_THROW(parseFault(wrong), std::invalid_argument) << wrong;
    }
}

TEST(FaultPlanTest, EachFaultCountsTheRequestsItWatchesAndTheFirstHitWins) {
    FaultPlan plan;
    plan.add(parseFault("refuse-patient@2"));
    plan.add(parseFault("malformed@50%"));
    plan.add(parseFault("connect-status=503@1"));

    EXPECT_EQ(plan.nextConnect()->kind, FaultKind::ConnectStatus);
    EXPECT_FALSE(plan.nextConnect().has_value());

    EXPECT_FALSE(plan.nextQuery().has_value());                   // 1st
    EXPECT_EQ(plan.nextQuery()->kind, FaultKind::RefusePatient);  // 2nd: both hit, first wins
    EXPECT_FALSE(plan.nextQuery().has_value());                   // 3rd
    EXPECT_EQ(plan.nextQuery()->kind, FaultKind::Malformed);      // 4th
}

TEST(CommandLineTest, ServeListAndMistakes) {
    const CommandLine serve =
        parseCommandLine({"--listen", "127.0.0.1:0", "--store", "/tmp/s", "--dtd=/tmp/d", "--fault",
                          "drop@2", "--fault=delay=100", "--max-request", "4096", "--verbose"});
    EXPECT_EQ(serve.action, CommandLine::Action::Serve);
    EXPECT_EQ(serve.serve.host, "127.0.0.1");
    EXPECT_EQ(serve.serve.port, 0);
    EXPECT_EQ(serve.serve.store, "/tmp/s");
    EXPECT_EQ(serve.serve.dtdFolder, "/tmp/d");
    ASSERT_EQ(serve.serve.faults.size(), 2u);
    EXPECT_EQ(serve.serve.faults[1].kind, FaultKind::Delay);
    EXPECT_EQ(serve.serve.maxRequestBytes, 4096u);
    EXPECT_TRUE(serve.serve.verbose);

    EXPECT_EQ(parseCommandLine({"--listen", "[::1]:8080", "--store", "s"}).serve.host, "::1");
    EXPECT_EQ(parseCommandLine({"--list", "/tmp/s"}).action, CommandLine::Action::List);
    EXPECT_EQ(parseCommandLine({"--help"}).action, CommandLine::Action::Help);

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--store", "s"},
             {"--listen", "127.0.0.1:0"},
             {"--listen", "127.0.0.1", "--store", "s"},
             {"--listen", "127.0.0.1:70000", "--store", "s"},
             {"--listen", "127.0.0.1:0", "--store", "s", "--cert", "c.pem"},
             {"--listen", "127.0.0.1:0", "--store", "s", "--fault", "nonsense"},
             {"--listen", "127.0.0.1:0", "--store", "s", "--bogus"},
             {"--listen", "127.0.0.1:0", "--store"}}) {
        EXPECT_THROW(parseCommandLine(wrong), std::invalid_argument)
            << ::testing::PrintToString(wrong);
    }
}

}  // namespace
}  // namespace kvt::collector
