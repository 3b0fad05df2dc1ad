// kvt-collector as a process: its port on the first line, the protocol's
// endpoints, the bearer token, the store and its listing, a clean stop.
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "collector/answer_reading.h"
#include "collector/peer_process.h"
#include "collector/upload_fixtures.h"

namespace kvt::testing {
namespace {

using ::testing::HasSubstr;

struct HttpResult {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

HttpResult http(const std::string& url, const std::string* body = nullptr,
                const std::vector<std::string>& headers = {}) {
    HttpResult result;
    CURL* curl = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& header : headers) {
        list = curl_slist_append(list, header.c_str());
    }
    if (body) {
        list = curl_slist_append(list, "Content-Type: application/xml");
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body->size()));
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    result.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return result;
}

TEST(CollectorProcessTest, ServesTheProtocolAndStopsCleanly) {
    TempDir temp;
    RunningCollector collector(temp / "store");
    const std::string base = collector.url();

    EXPECT_EQ(http(base + "/services/KVT").status, 200);
    EXPECT_EQ(http(base + "/services/ALTRO").status, 404);
    EXPECT_EQ(http(base + "/qualcosa").status, 404);

    const std::string upload = goodUpload();
    const HttpResult stored = http(base + "/services/KVT/requests", &upload);
    EXPECT_EQ(stored.status, 200);
    EXPECT_TRUE(readAsTheProgramDoes(stored.body).accepted) << stored.body;
    EXPECT_EQ(readFile(temp / "store" / (std::string(kGoodPseudonym) + ".xml")), upload);
    EXPECT_EQ(http(base + "/services/ALTRO/requests", &upload).status, 404);

    const std::string empty;
    EXPECT_EQ(http(base + "/services/KVT/requests", &empty).status, 400);

    EXPECT_EQ(collector.stop(), 0);
}

TEST(CollectorProcessTest, ListShowsWhatArrived) {
    TempDir temp;
    RunningCollector collector(temp / "store");
    const std::string upload = goodUpload();
    ASSERT_EQ(http(collector.url() + "/services/KVT/requests", &upload).status, 200);
    ChildProcess list({KVT_TEST_COLLECTOR, "--list", (temp / "store").string()});
    EXPECT_THAT(list.readLine(), HasSubstr("pseudonimo"));
    const std::string entry = list.readLine();
    EXPECT_THAT(entry, HasSubstr(kGoodPseudonym));
    EXPECT_THAT(entry, HasSubstr(std::to_string(upload.size())));
    EXPECT_EQ(list.wait(), 0);
}

TEST(CollectorProcessTest, BearerTokenIsRequiredWhenConfigured) {
    TempDir temp;
    writeFile(temp / "token", "s3greto-di-prova\n");
    RunningCollector collector(temp / "store", {"--token-file", (temp / "token").string()});
    const std::string url = collector.url() + "/services/KVT";
    EXPECT_EQ(http(url).status, 401);
    EXPECT_EQ(http(url, nullptr, {"Authorization: Bearer sbagliato"}).status, 401);
    EXPECT_EQ(http(url, nullptr, {"Authorization: Bearer s3greto-di-prova"}).status, 200);
}

TEST(CollectorProcessTest, ConcurrentUploadsAreAllStored) {
    TempDir temp;
    RunningCollector collector(temp / "store");
    std::vector<std::future<long>> sent;
    for (int i = 0; i < 16; ++i) {
        sent.push_back(std::async(std::launch::async, [&, i] {
            char pseudonym[41];
            std::snprintf(pseudonym, sizeof pseudonym, "%040X", i);
            const std::string upload = uploadWithPseudonym(pseudonym);
            const HttpResult result = http(collector.url() + "/services/KVT/requests", &upload);
            return readAsTheProgramDoes(result.body).accepted ? result.status : -result.status;
        }));
    }
    for (auto& result : sent) {
        EXPECT_EQ(result.get(), 200);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp / "store"),
                            std::filesystem::directory_iterator()),
              16);
}

TEST(CollectorProcessTest, StopsPromptlyWhileAnAnswerIsDelayed) {
    TempDir temp;
    RunningCollector collector(temp / "store", {"--fault", "delay=60000"});
    const std::string upload = goodUpload();
    auto pending = std::async(std::launch::async, [&] {
        return http(collector.url() + "/services/KVT/requests", &upload);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(collector.stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    pending.wait();
}

TEST(CollectorProcessTest, UsageMistakesExitWithTwo) {
    ChildProcess wrongFault(
        {KVT_TEST_COLLECTOR, "--listen", "127.0.0.1:0", "--store", "/tmp", "--fault", "nonsense"});
    EXPECT_EQ(wrongFault.wait(), 2);
    ChildProcess noStore({KVT_TEST_COLLECTOR, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(noStore.wait(), 2);
    TempDir temp;
    ChildProcess noDtd({KVT_TEST_COLLECTOR, "--listen", "127.0.0.1:0", "--store",
                        (temp / "s").string(), "--dtd", (temp / "none").string()});
    EXPECT_EQ(noDtd.wait(), 1);
}

}  // namespace
}  // namespace kvt::testing
