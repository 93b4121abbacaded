// The bytes a whole run writes, how they are passed on, and its exit status.
#include <gtest/gtest.h>

#include "tests/support/expected_output.h"
#include "tests/support/tool_run.h"

namespace {

using emulation::EmulatedRegistry;
using testing_support::EmptyRunOutput;
using testing_support::OutputKind;
using testing_support::RunOptions;
using testing_support::RunTool;

TEST(RunOutput, EmptyRegistryWritesExactly229BytesAndExits33) {
  EmulatedRegistry registry;
  const auto run = RunTool(registry);
  EXPECT_EQ(run.output, EmptyRunOutput());
  EXPECT_EQ(run.output.size(), 229u);
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(RunOutput, ArgumentsAreIgnored) {
  EmulatedRegistry plain;
  plain.AddKey("HKEY_CURRENT_USER\\Software\\Quillorbex");
  EmulatedRegistry withArguments;
  withArguments.AddKey("HKEY_CURRENT_USER\\Software\\Quillorbex");
  RunOptions options;
  options.arguments = {"/?", "--help", "HKEY_LOCAL_MACHINE", ""};
  const auto expected = RunTool(plain);
  const auto run = RunTool(withArguments, options);
  EXPECT_EQ(run.output, expected.output);
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(withArguments.KeyPaths(), plain.KeyPaths());
  EXPECT_EQ(withArguments.KeyPaths(), std::vector<std::string>{"HKEY_CURRENT_USER\\Software"});
}

TEST(RunOutput, RootKeyThatCannotBeOpenedKeepsItsLineAndTheRunGoesOn) {
  EmulatedRegistry registry;
  registry.AddKey("HKEY_CURRENT_USER\\Quillorbex");
  registry.AddKey("HKEY_LOCAL_MACHINE\\Quillorbex");
  registry.RootKey(1).allowedAccess = KEY_READ;
  const auto run = RunTool(registry);
  EXPECT_EQ(run.output, EmptyRunOutput());
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_TRUE(registry.Exists("HKEY_CURRENT_USER\\Quillorbex"));
  EXPECT_FALSE(registry.Exists("HKEY_LOCAL_MACHINE\\Quillorbex"));
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(RunOutput, AllFourRootOpensFailingStillEndsNormally) {
  EmulatedRegistry registry;
  for (int i = 0; i < EmulatedRegistry::ROOT_COUNT; ++i) {
    registry.AddFault({emulation::Operation::RegOpenKeyExA, static_cast<std::uint64_t>(i + 1)});
  }
  const auto run = RunTool(registry);
  EXPECT_EQ(run.output, EmptyRunOutput());
  EXPECT_EQ(run.exitStatus, 33);
  EXPECT_EQ(registry.CallCount(emulation::Operation::RegQueryInfoKeyA), 0u);
  EXPECT_EQ(registry.CallCount(emulation::Operation::RegCloseKey), 0u);
}

TEST(RunOutput, RootKeysAreOpenedWithANullNameAndClosedInTableOrder) {
  EmulatedRegistry registry;
  registry.EnableTrace(true);
  RunTool(registry);
  std::vector<std::string> calls;
  for (const auto& entry : registry.Trace()) {
    calls.push_back(std::string(emulation::OperationName(entry.operation)) + " " + entry.keyPath +
                    " " + entry.name);
  }
  const std::vector<std::string> expected = {
      "RegOpenKeyExA HKEY_CLASSES_ROOT ",    "RegQueryInfoKeyA HKEY_CLASSES_ROOT ",
      "RegCloseKey HKEY_CLASSES_ROOT ",      "RegOpenKeyExA HKEY_CURRENT_USER ",
      "RegQueryInfoKeyA HKEY_CURRENT_USER ", "RegCloseKey HKEY_CURRENT_USER ",
      "RegOpenKeyExA HKEY_LOCAL_MACHINE ",   "RegQueryInfoKeyA HKEY_LOCAL_MACHINE ",
      "RegCloseKey HKEY_LOCAL_MACHINE ",     "RegOpenKeyExA HKEY_USERS ",
      "RegQueryInfoKeyA HKEY_USERS ",        "RegCloseKey HKEY_USERS ",
  };
  EXPECT_EQ(calls, expected);
}

TEST(RunOutput, ToAFileOrPipeShortOutputArrivesInOnePassAtTheEnd) {
  EmulatedRegistry registry;
  testing_support::AddNumberedKeys(registry, "HKEY_USERS\\Wide", 2500);
  const auto run = RunTool(registry);
  ASSERT_EQ(run.passes.size(), 1u);
  EXPECT_EQ(run.output.size(), 229u + 2);
  EXPECT_EQ(run.exitStatus, 33);
}

TEST(RunOutput, OnAConsoleEveryWriteIsPassedOnWhenItEnds) {
  EmulatedRegistry registry;
  testing_support::AddNumberedKeys(registry, "HKEY_CURRENT_USER\\Wide", 2000);
  RunOptions options;
  options.kind = OutputKind::Console;
  const auto run = RunTool(registry, options);
  const std::vector<std::string> expected = {
      testing_support::BANNER,
      testing_support::RootLine("HKEY_CLASSES_ROOT"),
      testing_support::RootLine("HKEY_CURRENT_USER"),
      ".",
      ".",
      testing_support::RootLine("HKEY_LOCAL_MACHINE"),
      testing_support::RootLine("HKEY_USERS"),
      testing_support::CLOSING,
  };
  EXPECT_EQ(run.passes, expected);
  EXPECT_EQ(run.exitStatus, 33);
}

TEST(RunOutput, FailedPassOfTheFinalOutputMakesTheExitStatusMinusOne) {
  EmulatedRegistry registry;
  registry.AddKey("HKEY_CURRENT_USER\\Software\\Quillorbex");
  RunOptions options;
  options.failFromPass = 1;
  const auto run = RunTool(registry, options);
  EXPECT_EQ(run.exitStatus, -1);
  EXPECT_EQ(run.output, "");
  // The walk itself is not stopped by the output failing.
  EXPECT_FALSE(registry.Exists("HKEY_CURRENT_USER\\Software\\Quillorbex"));
}

TEST(RunOutput, ConsoleWriteThatFailedEarlierStillMakesTheExitStatusMinusOne) {
  EmulatedRegistry registry;
  RunOptions options;
  options.kind = OutputKind::Console;
  // The first root key's line is lost; every later write gets through.
  options.failOnlyPass = 2;
  const auto run = RunTool(registry, options);
  EXPECT_EQ(run.exitStatus, -1);
  ASSERT_EQ(run.passes.size(), 5u);
  EXPECT_EQ(run.passes.back(), testing_support::CLOSING);
}

}  // namespace
