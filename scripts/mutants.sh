#!/usr/bin/env bash
# Mutation check of the test suite (not part of `make test`). Each entry of
# the table below plants one realistic fault in the module's production code;
# the whole suite (unit and end-to-end) must fail for it.
#
#   scripts/mutants.sh              every mutant
#   scripts/mutants.sh 3 17         only mutants 3 and 17
#   scripts/mutants.sh --list       the table, each entry checked against this checkout
#   scripts/mutants.sh --baseline   first run the unmutated suite once (and stop if it fails)
#
# The mutants run in a worktree of HEAD (build/mutants/src, detached, reset to
# HEAD on every run: uncommitted changes are not part of the check), built
# once as the Makefile builds build/x64 (build/mutants/x64, with its own
# private Wine prefix). For each mutant: restore the tree, plant the fault,
# rebuild incrementally and run `ctest --stop-on-failure`. A mutant is
# "caught" when the build or a test fails, "missed" when the suite passes,
# and "stale" when its original text is not found exactly once in its file
# (the code moved on: update the entry). Logs: build/mutants/logs/<id>.*.log.
#
# Exit status 0 whatever was missed (this is a report); non-zero only when the
# harness fails (unknown id, worktree, configure, base build or prefix).
#
# Table format: "@ ID FILE", "= description", optionally "? REGEX" (the
# tests most likely to catch it, run first: a failure there ends that
# mutant's run early; otherwise the whole suite runs), then the original
# lines, each as "- TEXT", and the replacement lines, each as "+ TEXT" (none:
# the lines are deleted). Texts are whole lines, compared exactly.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(git -C "$here/.." rev-parse --show-toplevel)
base="$repo/build/mutants"
src="$base/src"
x64="$base/x64"
logs="$base/logs"
jobs=2

table() {
  cat <<'TABLE'
@ 1 Custom_Actions/qvrinst/key_value_list.cpp
= a repeated key: the last occurrence wins
? KeyValueList
-   if (state == State::InValue) {
-     pairs_.emplace(key, value);
+   if (state == State::InValue) {
+     pairs_.insert_or_assign(key, value);

@ 2 Custom_Actions/qvrinst/key_value_list.cpp
= a trailing key without '=' is accepted
? KeyValueList
-   parse_failed_ = state != State::ExpectKey;
+   parse_failed_ = state == State::Error;

@ 3 Custom_Actions/qvrinst/custom_actions.cpp
= a resource switch is on for any non-empty value, not only "1"
? CustomActions
-   auto on = [&](const wchar_t* key) { return parameters.GetValue(key) == L"1"; };
+   auto on = [&](const wchar_t* key) { return !parameters.GetValue(key).empty(); };

@ 4 Custom_Actions/qvrinst/custom_actions.cpp
= malformed CustomActionData reports success
? custom_action_data
-   if (!data.empty() && !parameters.Parse(data)) return kInstallFailure;
+   if (!data.empty() && !parameters.Parse(data)) return ERROR_SUCCESS;

@ 5 Custom_Actions/qvrinst/custom_actions.cpp
= the last character of CustomActionData is lost
? custom_action_data
-   text.assign(buffer.get(), size);
+   text.assign(buffer.get(), size - 1);

@ 6 log/installer_log.cpp
= square brackets in installer-log lines are not escaped
? InstallerLog|MsiTracer
-     case L'[': return L"[\\[]";
-     case L']': return L"[\\]]";

@ 7 log/installer_log.cpp
= braces in installer-log lines are not escaped
? InstallerLog|MsiTracer
-     case L'{': return L"[\\{]";
-     case L'}': return L"[\\}]";

@ 8 Custom_Actions/COMMON/vantor_tm_profiles.cpp
= the profile context's lines lose their time-stamped prefix
? VantorTm|custom_action_data
-   InstallerLog(install).LineV(format, args);
+   InstallerLog(install).PlainV(format, args);

@ 9 Custom_Actions/qvrinst/crash_dump.cpp
= the dump name has day and month swapped
? CrashDump
-                now.wMonth, now.wDay, now.wHour, now.wMinute, static_cast<unsigned>(GetCurrentProcessId()), L"full",
+                now.wDay, now.wMonth, now.wHour, now.wMinute, static_cast<unsigned>(GetCurrentProcessId()), L"full",

@ 10 Custom_Actions/qvrinst/exception_boundary.cpp
= an exception caught at an edge writes no dump
? VersionedInstaller|CrashDump
-   WriteRequestedDump();
-   try {
+   try {

@ 11 Custom_Actions/qvrinst/feature_model.cpp
= small-office version 6.2 no longer counts as at most 6.2
? InstallerCore|SmallOffice
-   return major < 6 || (major == 6 && minor <= 2);
+   return major < 6 || (major == 6 && minor < 2);

@ 12 Custom_Actions/qvrinst/product_registry.cpp
= a feature without a readable "installed" value counts as not installed
? InstallerCore
-   return key.ReadDword(L"installed", value) != ERROR_SUCCESS || value != 0;
+   return key.ReadDword(L"installed", value) == ERROR_SUCCESS && value != 0;

@ 13 activators/environment.cpp
= the product environment key is opened for reading only
? InstallerCore
-   if (!CheckSuccess(sink, product.Open(HKEY_LOCAL_MACHINE, productEnvironmentKey.c_str(), KEY_READ | KEY_WRITE),
+   if (!CheckSuccess(sink, product.Open(HKEY_LOCAL_MACHINE, productEnvironmentKey.c_str(), KEY_READ),

@ 14 Custom_Actions/qvrinst/activation_sequences.cpp
= a type switch deactivates the registry flags before it unregisters the plugins
? ActivationSequences
-     if (!steps.UnregisterPlugins(current)) return false;
-     if (!steps.DeactivateRegistry(current)) return false;
+     if (!steps.DeactivateRegistry(current)) return false;
+     if (!steps.UnregisterPlugins(current)) return false;

@ 15 Custom_Actions/qvrinst/activation_sequences.cpp
= an activation failing after a type change clears the stored type instead of storing the new one
? ActivationSequences
-   if (typeChanged) steps.WriteProductType(target);
+   if (typeChanged) steps.WriteProductType(L"");

@ 16 Custom_Actions/qvrinst/installer.cpp
= Initialize without a product type targets no type instead of the stored one
? InstallerCore
-     targetProductType_ = productType ? std::wstring(productType) : currentProductType_;
+     targetProductType_ = productType ? std::wstring(productType) : std::wstring();

@ 17 activators/registry_values.cpp
= registry flags declared for HKCU are written to HKLM
? RegistryValues
-   if (root == L"HKCU") return HKEY_CURRENT_USER;

@ 18 activators/proto_handler_registrar.cpp
= a scheme of 24 characters no longer fits the enumeration buffer
? ProtoHandlers
- constexpr DWORD kSchemeBufferChars = 25;
+ constexpr DWORD kSchemeBufferChars = 24;

@ 19 activators/process_launcher.cpp
= the plugin time limit is ignored: a process still running counts as completed
? Plugins|ProcessLauncher
-   if (waited == WAIT_TIMEOUT) return LaunchResult::kTimedOut;
+   if (waited == WAIT_TIMEOUT) return LaunchResult::kCompleted;

@ 20 activators/process_launcher.cpp
= the waiver is granted after the process was resumed
? Plugins|ProcessLauncher
-   waiver = GrantWaiver(locator_, sink_, created.dwProcessId);
-   if (!process.Start()) return LaunchResult::kCreationFailed;
+   if (!process.Start()) return LaunchResult::kCreationFailed;
+   waiver = GrantWaiver(locator_, sink_, created.dwProcessId);

@ 21 activators/plugins.cpp
= a plugin command that exits with a non-zero code counts as succeeded
? Plugins
-   return launched == LaunchResult::kCompleted && exitCode == 0;
+   return launched == LaunchResult::kCompleted;

@ 22 activators/profiles_plan.cpp
= only the last DisabledProductTypes entry decides whether a profile is disabled
? ResourcePlans
-     profile.disabled = std::find(disabledTypes.begin(), disabledTypes.end(), type) != disabledTypes.end();
+     profile.disabled = disabledTypes.back() == type;

@ 23 platform/util/scoped_reg_key.cpp
= a REG_EXPAND_SZ value is read where only REG_SZ is taken
? ReadTest|Profiles
-   return type == REG_SZ || (type == REG_EXPAND_SZ && policy != StringPolicy::kSzOnly);
+   return type == REG_SZ || type == REG_EXPAND_SZ;

@ 24 platform/util/scoped_reg_key.cpp
= a name that an enumeration cannot read ends the walk even where it should be skipped
? ReadTest|Declarations
-       if (onError(result)) continue;
+       onError(result);

@ 25 platform/util/privileges.cpp
= a privilege is adjusted with "enabled by default" instead of "enabled"
? Privilege
-     privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
+     privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED_BY_DEFAULT;

@ 26 platform/product_info/product_info.cpp
= the current directory is searched for product_info.dll before the module's folder
? InitCommonRegKeys|ProductInfo
-     directories.push_back(std::move(current));
+     directories.insert(directories.begin(), std::move(current));

@ 27 platform/product_info/product_info_record.cpp
= upper-case hex digits in a product GUID are rejected
? ProductInfo|ProductGuid
-   if (c >= L'A' && c <= L'F') return c - L'A' + 10;

@ 28 component/oxa/system/file/path.cpp
= ".." above the root of an absolute path is kept
? Path
-       else if (!absolute)
-         components.push_back(component);
+       else
+         components.push_back(component);

@ 29 component/oxa/system/file/detail/filesystem_impl.cpp
= OpenFile with CREATE_NEW replaces an existing file
? FileSystem
-         opened->handle_.Reset(CreateWithReadSharing(long_path, access, CREATE_NEW));
+         opened->handle_.Reset(CreateWithReadSharing(long_path, access, CREATE_ALWAYS));

@ 30 component/oxa/text/utf.cpp
= UTF-8 encoded surrogates are accepted
? Utf
-     if (lead == 0xED) high = 0x9F;

@ 31 cleaner/dir_utils.cpp
= RecursiveDelete acts on entries that can only be reached through their link target
? RecursiveDelete|DirUtils
-     if (!ActsOnItself(reached, entry_path, name)) continue;
+     (void)reached;

@ 32 Custom_Actions/qvrinst/product_keys.cpp
= the ProductInfoDLL environment variable is ignored
? InitCommonRegKeys
-     const std::wstring path = FileSystemObjectExists(fromEnvironment) ? fromEnvironment : LocateProductInfoLibrary();
+     const std::wstring path = LocateProductInfoLibrary();

@ 33 platform/product_info/common_reg_keys.cpp
= the self-unregistration key path names the Selfregs key
? Declarations|RegisterPlugins
-   keys[kSelfunregsKey] = installer + L"\\Selfunregs";
+   keys[kSelfunregsKey] = installer + L"\\Selfregs";

@ 34 Custom_Actions/COMMON/product_variables.cpp
= references inside a product variable's value are not expanded
? ProductVariables
-     position = open;
+     position = open + value.size();
@ 35 activators/declaration_table.cpp
= a declaration value that cannot be read is skipped even where it fails the read
? Declarations|Profiles
-           failed = rules.badValueFails;
+           failed = false;

@ 36 Custom_Actions/qvrinst/feature_model.h
= a name that no declaration carries is requested all the same
? ResourcePlans
-       if (declared.count(name) != 0) requests.push_back({name, featureName});
+       requests.push_back({name, featureName});

@ 37 activators/incompatible_software.cpp
= the cleaner's lines reach the log as format strings: percent signs are not doubled
? Cleaner|e2e.cleaner
-         if (c == L'%') text += L'%';

@ 38 cabinet/stored_name.cpp
= a stored name made of dots (such as "..") is written below the destination folder's parent
? CabExtractor|Cleaner
-     if (component.find(L':') != component.npos || component.find_first_not_of(L". ") == component.npos)
+     if (component.find(L':') != component.npos)

@ 39 cleaner/cleaner.cpp
= a scratch folder that exists already is taken over
? Cleaner
-     if (error == ERROR_ALREADY_EXISTS) {
+     if (error == ERROR_ALREADY_EXISTS && false) {

@ 40 cleaner/cleaner.cpp
= the library's lines are written only when an enumeration finds something, never when it fails
? Cleaner
-   if (!succeeded || !found.empty()) traceImpl_->Flush();
+   if (succeeded && !found.empty()) traceImpl_->Flush();

@ 41 cleaner/cleaner_index.cpp
= comment lines of cleanapi.ini are read as keys
? CleanerIni
-     if (line.empty() || line.front() == ';') continue;
+     if (line.empty()) continue;
@ 42 activators/drivers.cpp
= a driver whose start type cannot be changed keeps its parameters when it is disabled
? Drivers
-       LogLine(sink, kLogInfo, L"DisableDrivers: disable %ls failed", name);
+       { LogLine(sink, kLogInfo, L"DisableDrivers: disable %ls failed", name); continue; }

@ 43 activators/drivers.cpp
= the filtering driver's name is compared without regard to case
? Drivers
-   if (name != kFilteringDriver || !wfpObjectsWanted) return true;
+   if (_wcsicmp(name.c_str(), kFilteringDriver) != 0 || !wfpObjectsWanted) return true;

@ 44 activators/drivers.cpp
= objects registered already are not repaired: the first failed run ends the operation
? WfpObjects
-     if (run == 2) return false;
+     if (run == 1) return false;

@ 45 drivers/wfp_manager.cpp
= a failed registration commits what it added instead of aborting
? WfpObjects
-     if (transactionOpen_) api_.TransactionAbort(engine_.Get());
+     if (transactionOpen_) api_.TransactionCommit(engine_.Get());

@ 46 drivers/wfp_manager.cpp
= the removal takes every filter, not only the product's provider's
? WfpObjects
-         return filter.providerKey && IsEqualGUID(*filter.providerKey, kProviderKey) ? &filter.filterKey : nullptr;
+         return &filter.filterKey;

@ 47 activators/drivers.cpp
= enabled drivers get the on-demand start type instead of the declared one
? Drivers
-     if (!ChangeDriverConfig(request.declaration, drivers_.at(request.declaration), sink, error)) {
+     if (!ChangeDriverConfig(request.declaration, SERVICE_DEMAND_START, sink, error)) {

@ 48 Custom_Actions/qvrinst/installer.cpp
= small-office versions up to 6.2 get the WFP objects too
? Drivers
-   drivers_.Enable(sink_, DriverServices::Plan(drivers_.Table(), features_, type), !IsSmallOfficeVersion(keys_));
+   drivers_.Enable(sink_, DriverServices::Plan(drivers_.Table(), features_, type), true);
@ 49 activators/file_removal.cpp
= a shortcut that cannot be deleted for another reason than being in use is retried too
? ResourcePlans
-     if (!inUse || attempt >= policy.attempts) break;
+     if (attempt >= policy.attempts) break;

@ 50 activators/file_removal.cpp
= a shortcut that is not there is scheduled for deletion at the restart
? Shortcuts|ResourcePlans
-     if (outcome.deleteError == 0 || outcome.deleteError == kFileNotFound || outcome.deleteError == kPathNotFound)
+     if (outcome.deleteError == 0)

@ 51 activators/shortcuts_plan.cpp
= a toast shortcut path with dots or a stream is deleted
? UserHives
-   if (!SpelledPlainly(path) || !SpelledPlainly(folder)) return false;
+   if (!SpelledPlainly(folder)) return false;

@ 52 platform/user_hives/user_hive_walk.cpp
= a hive loaded for its step stays loaded
? UserHives
-   ~LoadedUserHive() { RegUnLoadKeyW(HKEY_USERS, sid_.c_str()); }
+   ~LoadedUserHive() {}

@ 53 platform/util/windows/com_apartment.cpp
= a thread in another apartment is uninitialised as if the scope had entered one
? Shortcuts
-   if (result == S_OK || result == S_FALSE) {
+   if (result == S_OK || result == S_FALSE || result == RPC_E_CHANGED_MODE) {

@ 54 activators/shortcuts.cpp
= the users' toast shortcuts are removed only where the caller asked to keep them
? e2e.shortcuts
-   const bool toaster = !withToasterShortcut || RemoveW8ToasterShortcut();
+   const bool toaster = withToasterShortcut || RemoveW8ToasterShortcut();
@ 55 companions/pxsverify/pxsverify.cpp
= a PKCS#7 with signed attributes is trusted without comparing the content's hash
? IsSignatureValid
-   if (!attributes.empty()) {
+   if (false) {

@ 56 companions/qsigverify/qsigverify.cpp
= the QSIG library answers success whatever the ECDSA verification says
? IsSignatureValid|LoadLibraryAndCheckSignature
-     if (BCRYPT_SUCCESS(status)) return qvr::kQsigSucceeded;
+     if (true) return qvr::kQsigSucceeded;

@ 57 Custom_Actions/COMMON/signature.cpp
= the library is loaded whatever its signature
? LoadLibraryAndCheckSignature|e2e.signature
-   if (!IsSignatureValid({resolved, file.Get()})) return false;
+   IsSignatureValid({resolved, file.Get()});

@ 58 Custom_Actions/COMMON/signature.cpp
= an upper-case .EXE is not taken for an executable
? IsSignatureValid
-                                                   [](wchar_t a, wchar_t b) { return a == std::towlower(b); });
+                                                   [](wchar_t a, wchar_t b) { return a == b; });

@ 59 signcheck_lib/signature_trailer.cpp
= a trailer with an empty signature is taken as found
? SplitSignatureTrailer
-   if (length == 0 || length > lengthAt) {
+   if (length > lengthAt) {

@ 60 signcheck_lib/check_qsig_signature.cpp
= an empty file reaches the QSIG library
? IsSignatureValid
-   if (!(size.QuadPart > 0 && size.QuadPart <= 0xFFFFFFFFLL)) {
+   if (!(size.QuadPart >= 0 && size.QuadPart <= 0xFFFFFFFFLL)) {

@ 61 platform/util/scoped_reg_key.cpp
= a value whose data did not fit the buffer is not read again with room for it
? RegistryValues
-       if (named == ERROR_SUCCESS && needed > room) {
+       if (named == ERROR_SUCCESS && needed > bytes) {

@ 62 activators/registry_values.cpp
= a flag is written into the key left open by the flag before it, whatever key it names
? RegistryValues
-     if (!opened || HiveOf(opened->root) != hive || opened->key != record.key) {
+     if (!opened) {

@ 63 tools/qvrhost/format_match.cpp
= the format matcher forgets the positions it reached before
? FormatMatch|LogExplainer
-   for (std::size_t at = 0; at < from.size(); ++at) to[at] = any = any || from[at];
+   for (std::size_t at = 0; at < from.size(); ++at) to[at] = from[at];

@ 64 tools/qvrhost/declaration_lint.cpp
= an empty reference in a feature's list is reported as undeclared
? DeclarationLint|e2e.tools
-       if (!name.empty() && !IsStored(declared, name))
+       if (!IsStored(declared, name))

@ 65 tools/qvrhost/verbose_log.cpp
= a log with CRLF line ends keeps the carriage return in every line
? LogExplainer
-     if (line.ends_with(L'\r')) line.remove_suffix(1);
@ 66 scripts/error_formats.pl
= the explainer takes the module's information lines for its level-3 lines
? FormatMatch|LogExplainer
-   if ($call eq 'LogLine') { take($args[2]) if @args > 2 && $args[1] =~ /\bkLogError\b/ }
+   if ($call eq 'LogLine') { take($args[2]) if @args > 2 && $args[1] =~ /\bkLog(Error|Info)\b/ }
TABLE
}

# The table's reader: list, ids, desc ID, apply ID ROOT (exit 3: stale).
helper=$(cat <<'PY'
import sys

def parse(text):
    entries, order, cur = {}, [], None
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith("@ "):
            parts = line.split(None, 2)
            if len(parts) != 3 or parts[1] in entries:
                sys.exit(f"mutant table line {number}: bad or repeated id: {line}")
            cur = {"id": parts[1], "file": parts[2], "desc": None, "hint": "", "old": [], "new": []}
            entries[parts[1]] = cur
            order.append(parts[1])
        elif cur is None or not line.strip():
            if line.strip():
                sys.exit(f"mutant table line {number}: text outside an entry")
        elif line.startswith("= "):
            cur["desc"] = line[2:]
        elif line.startswith("? "):
            cur["hint"] = line[2:]
        elif line[:2] in ("- ", "+ ") or line in ("-", "+"):
            if line[0] == "-" and cur["new"]:
                sys.exit(f"mutant table line {number}: original text after the replacement")
            cur["old" if line[0] == "-" else "new"].append(line[2:])
        else:
            sys.exit(f"mutant table line {number}: unknown line: {line}")
    for e in entries.values():
        if not e["desc"] or not e["old"]:
            sys.exit(f"mutant {e['id']}: description or original text missing")
        e["old"] = "".join(l + "\n" for l in e["old"])
        e["new"] = "".join(l + "\n" for l in e["new"])
    return entries, order

def occurrences(root, e):
    try:
        with open(f"{root}/{e['file']}", encoding="utf-8", newline="") as f:
            content = f.read()
    except FileNotFoundError:
        return None, 0
    # Whole lines only: the text must start at a line's start.
    return content, ("\n" + content).count("\n" + e["old"])

entries, order = parse(sys.stdin.read())
command, args = sys.argv[1], sys.argv[2:]
if command == "ids":
    print(" ".join(order))
elif command == "hint":
    print(entries[args[0]]["hint"])
elif command == "desc":
    e = entries[args[0]]
    print(f"{e['file']}: {e['desc']}")
elif command == "list":
    for i in order:
        e = entries[i]
        _, count = occurrences(args[0], e)
        state = "" if count == 1 else f"  [stale: original found {count} times]"
        print(f"{i:>3}  {e['file']:<48} {e['desc']}{state}")
elif command == "apply":
    e = entries[args[0]]
    content, count = occurrences(args[1], e)
    if count != 1:
        print(f"original text found {count} times in {e['file']}", file=sys.stderr)
        sys.exit(3)
    at = ("\n" + content).index("\n" + e["old"])
    with open(f"{args[1]}/{e['file']}", "w", encoding="utf-8", newline="") as f:
        f.write(content[:at] + e["new"] + content[at + len(e["old"]):])
else:
    sys.exit(f"unknown helper command {command}")
PY
)
mutant_table() { table | python3 -c "$helper" "$@"; }

baseline=0
wanted=()
for arg in "$@"; do
  case "$arg" in
    --list) mutant_table list "$repo"; exit 0 ;;
    --baseline) baseline=1 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "mutants: unknown option $arg" >&2; exit 2 ;;
    *) wanted+=("$arg") ;;
  esac
done
ids=$(mutant_table ids) || exit 1
read -r -a all_ids <<<"$ids"
if [ ${#wanted[@]} -eq 0 ]; then
  wanted=("${all_ids[@]}")
else
  for id in "${wanted[@]}"; do
    [[ " ${all_ids[*]} " == *" $id "* ]] || { echo "mutants: no mutant $id" >&2; exit 2; }
  done
fi

mkdir -p "$base" "$logs"
exec 9>"$base/lock"
flock -n 9 || { echo "mutants: another run uses $base" >&2; exit 1; }

# The tree under test: HEAD, detached.
head=$(git -C "$repo" rev-parse HEAD)
git -C "$repo" worktree prune
if [ ! -e "$src/.git" ]; then
  git -C "$repo" worktree add -q --detach "$src" "$head"
fi
git -C "$src" reset -q --hard "$head"
git -C "$src" clean -q -fdx
echo "mutants: tree $(git -C "$src" log -1 --format='%h %s')"

server_started=0
cleanup() {
  git -C "$src" checkout -q -- . 2>/dev/null || true
  if [ "$server_started" -eq 1 ]; then "$src/scripts/wine-prefix.sh" stop "$x64" || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$src/scripts/bootstrap.sh"
# As the Makefile configures build/x64, without the x86 tree: its binaries
# would not be those of the mutant.
if [ ! -f "$x64/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$x64" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$logs/configure.log" 2>&1 \
    || { echo "mutants: configure failed, see $logs/configure.log" >&2; exit 1; }
fi
started=$SECONDS
if ! cmake --build "$x64" -j"$jobs" >"$logs/base-build.log" 2>&1; then
  echo "mutants: the unmutated tree does not build, see $logs/base-build.log" >&2
  exit 1
fi
echo "mutants: base build $((SECONDS - started)) s"

start_prefix() {
  "$src/scripts/wine-prefix.sh" start "$x64" || { echo "mutants: the Wine prefix did not start" >&2; exit 1; }
  server_started=1
}
# A test cut off by a failure may leave processes in the prefix: the server
# is restarted after every failing run.
restart_prefix() {
  "$src/scripts/wine-prefix.sh" stop "$x64" || true
  (source "$src/scripts/wine-env.sh" "$x64" && "$WINESERVER" -w) 2>/dev/null || true
  start_prefix
}
start_prefix

run_suite() {  # LOG [REGEX]: 0 when every test (matching REGEX) passed
  (cd "$x64" && ctest --stop-on-failure -j"$jobs" --timeout 600 --output-on-failure --no-tests=ignore ${2:+-R "$2"}) \
    >"$1" 2>&1
}
failed_test() {  # LOG: the first failed test's name
  local name
  name=$(sed -n '/The following tests FAILED:/,$ { s/^[[:space:]]*[0-9]* - \([^ ]*\).*/\1/p }' "$1" | head -1)
  echo "${name:-see $1}"
}

if [ "$baseline" -eq 1 ]; then
  started=$SECONDS
  if ! run_suite "$logs/baseline.test.log"; then
    echo "mutants: the unmutated suite fails ($(failed_test "$logs/baseline.test.log")), see $logs/baseline.test.log" >&2
    exit 1
  fi
  echo "mutants: baseline passed, $((SECONDS - started)) s"
fi

caught=0 missed=0 stale=0
for id in "${wanted[@]}"; do
  desc=$(mutant_table desc "$id")
  git -C "$src" checkout -q -- .
  rm -f "$logs/$id".*.log
  set +e
  mutant_table apply "$id" "$src" 2>"$logs/$id.apply.log"
  applied=$?
  set -e
  if [ "$applied" -eq 3 ]; then
    stale=$((stale + 1))
    printf 'stale   %3s  %s (%s)\n' "$id" "$desc" "$(cat "$logs/$id.apply.log")"
    continue
  elif [ "$applied" -ne 0 ]; then
    echo "mutants: mutant $id could not be applied, see $logs/$id.apply.log" >&2
    exit 1
  fi
  started=$SECONDS
  if ! cmake --build "$x64" -j"$jobs" >"$logs/$id.build.log" 2>&1; then
    caught=$((caught + 1))
    printf 'caught  %3s  %s (build, %d s)\n' "$id" "$desc" $((SECONDS - started))
    continue
  fi
  hint=$(mutant_table hint "$id")
  if [ -n "$hint" ] && ! run_suite "$logs/$id.test.log" "$hint"; then
    caught=$((caught + 1))
    printf 'caught  %3s  %s (%s, %d s)\n' "$id" "$desc" "$(failed_test "$logs/$id.test.log")" $((SECONDS - started))
    restart_prefix
  elif run_suite "$logs/$id.test.log"; then
    missed=$((missed + 1))
    printf 'missed  %3s  %s (%d s)\n' "$id" "$desc" $((SECONDS - started))
  else
    caught=$((caught + 1))
    printf 'caught  %3s  %s (%s, %d s)\n' "$id" "$desc" "$(failed_test "$logs/$id.test.log")" $((SECONDS - started))
    restart_prefix
  fi
done
git -C "$src" checkout -q -- .
echo "mutants: $caught caught, $missed missed, $stale stale of ${#wanted[@]}"
exit 0
