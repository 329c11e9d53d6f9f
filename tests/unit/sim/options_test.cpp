#include "options.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace vmk40xx::sim {
namespace {

bool parse(std::vector<const char*> args, Options& o, std::string& err) {
  args.insert(args.begin(), "vmk40xx-sim");
  return parse_options(static_cast<int>(args.size()), args.data(), o, err);
}

TEST(SimOptions, TransportsModelAndLoads) {
  Options o;
  std::string err;
  ASSERT_TRUE(parse({"--listen", "[::1]:0", "--pty", "--model=K4301A", "--load", "4.7", "--load",
                     "3=open", "--delay", "20", "--esr", "32"},
                    o, err))
      << err;
  EXPECT_TRUE(o.listen);
  EXPECT_EQ(o.listen_host, "::1");
  EXPECT_EQ(o.listen_port, 0);
  EXPECT_TRUE(o.pty);
  ASSERT_NE(o.instrument.model, nullptr);
  EXPECT_EQ(o.instrument.model->name, "K4301A");
  EXPECT_DOUBLE_EQ(o.instrument.loads[0], 4.7);
  EXPECT_DOUBLE_EQ(o.instrument.loads[1], 4.7);
  EXPECT_EQ(o.instrument.loads[2], kOpenCircuit);
  EXPECT_EQ(o.instrument.faults.delay_ms, 20);

  Instrument inst(o.instrument);
  std::string r;
  inst.execute("*ESR?", r);
  EXPECT_EQ(r, "32");

  Options d;
  ASSERT_TRUE(parse({}, d, err));
  EXPECT_TRUE(d.listen);  // nothing asked for: the usual socket port
  EXPECT_EQ(d.listen_port, 5025);
}

TEST(SimOptions, MistakesAreReported) {
  for (std::vector<const char*> bad : {
           std::vector<const char*>{"--model", "k4102a"},
           {"--load", "4=10"},
           {"--load", "-1"},
           {"--listen", "localhost"},
           {"--noise", "2"},
           {"--delay"},
           {"--frobnicate"},
       }) {
    Options o;
    std::string err;
    EXPECT_FALSE(parse(bad, o, err)) << bad[0];
    EXPECT_FALSE(err.empty());
  }
}

}  // namespace
}  // namespace vmk40xx::sim
