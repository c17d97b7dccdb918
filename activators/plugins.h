// Plugin self-registration: the declared registration and unregistration
// command lines, the pure plan of which of them the features qualifying for
// a product type run, and the runs, one process at a time.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Custom_Actions/qvrinst/feature_model.h"
#include "activators/process_launcher.h"

namespace qvr {

// Declaration name (as features list it in Selfregs or SelfUnregs) to the
// full command line, program path and arguments together.
using PluginCommandTable = std::map<std::wstring, std::wstring>;

enum class PluginDirection { kRegister, kUnregister };

class PluginRegistrations {
 public:
  // ReadSelfregs and ReadSelfUnregs: fill the two tables from the values of
  // their keys. Problems are logged and the readable declarations kept.
  void Read(LogSink* sink, const std::wstring& selfregsKey, const std::wstring& selfunregsKey);

  // The command lines to run: for each feature qualifying for `type` in
  // table order and each name of its Selfregs (SelfUnregs) in list order,
  // the declared one; a name without a declaration is left out.
  static Requests Plan(const PluginCommandTable& commands, const FeatureMap& features, const std::wstring& type,
                       PluginDirection direction);

  // RegisterPlugins / UnregisterPlugins: runs the plan's command lines. A
  // command that fails is logged and the others still run.
  void Apply(LogSink* sink, ServiceLocator* locator, const Requests& plan, PluginDirection direction) const;
  // RegisterPluginImpl / UnregisterPluginImpl: one command line; false when
  // it could not be started, outlived the time limit or exited with a code
  // other than 0.
  bool Run(LogSink* sink, ServiceLocator* locator, const std::wstring& commandLine, PluginDirection direction) const;

  const PluginCommandTable& Commands(PluginDirection direction) const {
    return direction == PluginDirection::kRegister ? selfregs_ : selfUnregs_;
  }

 private:
  PluginCommandTable selfregs_;
  PluginCommandTable selfUnregs_;
};

}  // namespace qvr
