// The settings files: a table of good and bad files, and the order they are read in.
#include "engine/Settings.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

// What a file says: the fault, "unset", or its witnesses' hosts ("" for off).
std::string Said(const std::variant<WitnessSetting, std::string>& read) {
    if (const auto* fault = std::get_if<std::string>(&read)) return *fault;
    std::string hosts = std::get<WitnessSetting>(read) ? "" : "unset";
    for (const auto& w : std::get<WitnessSetting>(read).value_or(std::vector<Witness>{})) hosts += w.host + " ";
    return hosts;
}

TEST(Settings, ReadsWitnessesOrSaysWhereAFileIsWrong) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "unset"},
        {"\xEF\xBB\xBF# ours\r\n\r\n  witness = https://192.0.2.53/dns-query\thttps://[2001:db8::53]:8443/q \r\n",
         "192.0.2.53 2001:db8::53 "},
        {"witness=off\n", ""},
        {"witness = off\nwitness = HTTPS://doh.test/dns-query\n", "doh.test "},
        {"witnes = off\n", "t.conf:1: unknown key 'witnes' (the one key is witness)"},
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
    };
    for (const auto& [bytes, said] : rows) EXPECT_EQ(Said(ReadSettings(bytes, "t.conf")), said) << bytes;
}

TEST(Settings, ALaterFileOverridesAnEarlierAndNoneGivesTheDefaults) {
    fakes::FakeFiles files;
    files.settings = {{"/etc/t.conf", "witness = https://192.0.2.1/q\n"}, {"/home/t.conf", "# nothing set\n"}};
    EXPECT_EQ(std::get<std::vector<Witness>>(LoadWitnesses(files)).at(0).url, "https://192.0.2.1/q");
    files.settings["/home/t.conf"] = "witness = off\n";
    EXPECT_TRUE(std::get<std::vector<Witness>>(LoadWitnesses(files)).empty());
    files.settings["/etc/t.conf"] = "bogus = 1\n";
    EXPECT_EQ(std::get<std::string>(LoadWitnesses(files)), "/etc/t.conf:1: unknown key 'bogus' (the one key is witness)");
    files.settings.clear();
    EXPECT_EQ(std::get<std::vector<Witness>>(LoadWitnesses(files)), DefaultWitnesses());
}

}  // namespace
}  // namespace tarnwell
