// The settings files: a table of good and bad files, and the order they are read in.
#include "engine/Settings.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

// What a file says: the fault, "unset", or its witnesses' hosts ("" for off), then "proxy=off" when so set.
std::string Said(const WitnessSetting& witness, std::optional<bool> proxy) {
    std::string hosts = witness ? "" : "unset";
    for (const auto& w : witness.value_or(std::vector<Witness>{})) hosts += w.host + " ";
    return hosts + (proxy == false ? "proxy=off" : proxy ? "proxy=auto" : "");
}
std::string Said(const std::variant<FileSettings, std::string>& read) {
    if (const auto* fault = std::get_if<std::string>(&read)) return *fault;
    return Said(std::get<FileSettings>(read).witness, std::get<FileSettings>(read).proxy);
}

TEST(Settings, ReadsWitnessesOrSaysWhereAFileIsWrong) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "unset"},
        {"\xEF\xBB\xBF# ours\r\n\r\n  witness = https://192.0.2.53/dns-query\thttps://[2001:db8::53]:8443/q \r\n",
         "192.0.2.53 2001:db8::53 "},
        {"witness=off\n", ""},
        {"witness = off\nwitness = HTTPS://doh.test/dns-query\n", "doh.test "},
        {"witnes = off\n", "t.conf:1: unknown key 'witnes' (the keys are witness and proxy)"},
        {"proxy = off\n", "unsetproxy=off"},
        {"proxy = off\nproxy=auto\nwitness = off\n", "proxy=auto"},
        {"proxy = no\n", "t.conf:1: proxy needs auto or off"},
        {"\n#\nwitness = http://192.0.2.53/q\n", "t.conf:3: a witness must be asked over https, not http: 'http://192.0.2.53/q'"},
        {"witness\n", "t.conf:1: not a \"key = value\" line"},
        {"witness = \n", "t.conf:1: witness needs off or one URL or more"},
        {"witness = ftp://a.test/\n", "t.conf:1: not an https URL: 'ftp://a.test/'"},
        {"witness = https://u@a.test/\n", "t.conf:1: no host in 'https://u@a.test/'"},
        {"witness = https://[192.0.2.1]/\n", "t.conf:1: no host in 'https://[192.0.2.1]/'"},
        {"witness = https://a..test/\n", "t.conf:1: no host in 'https://a..test/'"},
        {"witness = https://-a.test/\n", "t.conf:1: no host in 'https://-a.test/'"},
        {"witness = https://a.test:65536/\n", "t.conf:1: no port in 'https://a.test:65536/'"},
        {"witness = https://a.test:/\n", "t.conf:1: no port in 'https://a.test:/'"},
        {"witness = https://a.test:0443/\n", "t.conf:1: no port in 'https://a.test:0443/'"},
        {"witness = off\n# \xc0\xaf\n", "t.conf:2: not UTF-8 text"},
    };
    for (const auto& [bytes, said] : rows) EXPECT_EQ(Said(ReadSettings(bytes, "t.conf")), said) << bytes;
}

// Two files, each its text or why it cannot be read: a later one overrides an earlier, none gives the
// defaults, and one that cannot be read whole is a fault that names it, never taken for a missing one.
TEST(Settings, TwoFiles) {
    using platform::ReadFault;
    const std::string witness = "witness = https://192.0.2.1/q\n";
    const std::tuple<fakes::FakeFiles::File, fakes::FakeFiles::File, std::string> rows[] = {
        {witness, "# nothing set\n", "192.0.2.1 "}, {witness, "witness = off\n", ""},
        {witness, ReadFault::Missing, "192.0.2.1 "},
        {"bogus = 1\n", "witness = off\n", "/etc/t.conf:1: unknown key 'bogus' (the keys are witness and proxy)"},
        {"proxy = off\n", witness, "192.0.2.1 proxy=off"}, {"proxy = off\n", "proxy = auto\n", "1.1.1.1 8.8.8.8 "},
        {ReadFault::Missing, ReadFault::Missing, "1.1.1.1 8.8.8.8 "},
        {witness, ReadFault::Denied, "/home/t.conf: cannot be read (permission denied)"},
        {ReadFault::Directory, witness, "/etc/t.conf: cannot be read (it is a directory)"},
        {witness, ReadFault::Error, "/home/t.conf: cannot be read (read error)"},
        {witness, std::string(64 * 1024 + 1, '#'), "/home/t.conf: cannot be read (larger than 64 KiB)"},
        {witness, std::string(64 * 1024, '#'), "192.0.2.1 "}};
    for (const auto& [etc, home, said] : rows) {
        fakes::FakeFiles files;
        files.settings = {{"/etc/t.conf", etc}, {"/home/t.conf", home}};
        const auto loaded = LoadSettings(files);
        const auto* chosen = std::get_if<Choices>(&loaded);
        EXPECT_EQ(chosen ? Said(chosen->witnesses, chosen->proxy ? std::nullopt : std::optional(false))
                         : std::get<std::string>(loaded),
                  said)
            << said;
    }
}

}  // namespace
}  // namespace tarnwell
