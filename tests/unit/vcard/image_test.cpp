// Card images: what is refused, and that writes go back whole and atomically.
#include "image_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

namespace carvix::vcard {
namespace {

using nlohmann::json;

json Minimal() {
    return json::parse(R"({
      "atr": "3B 05 43 56 58 54 30", "protocol": "T=0", "note": "kept",
      "applications": [{
        "aid": "A000000001", "label": "A", "extra": [1, 2],
        "files": [{"id": "0101", "size": 8, "data": "0102"}, {"id": 258, "data": "FF"}],
        "roles": [{"id": 3, "key": "00112233445566778899AABBCCDDEEFF", "update": ["0101"]}]
      }]})");
}

std::string ErrorOf(const json& doc) {
    try {
        ParseImage(doc);
    } catch (const ImageError& e) {
        return e.what();
    }
    return "";
}

TEST(ParseImage, ReadsTheFields) {
    const auto img = ParseImage(Minimal());
    EXPECT_EQ(img.atr.size(), 7u);
    EXPECT_EQ(img.protocol, Protocol::T0);
    ASSERT_EQ(img.applications.size(), 1u);
    const auto& app = img.applications[0];
    EXPECT_EQ(app.files.at(0x0101).size, 8);
    EXPECT_EQ(app.files.at(0x0102).size, 1);  // size defaults to the data length
    EXPECT_TRUE(app.roles.at(3).updatable.contains(0x0101));
}

TEST(ParseImage, RefusesBadImagesNamingTheField) {
    struct Case {
        const char* pointer;
        json value;
        const char* expect;
    };
    const Case cases[] = {
        {"/atr", "3B", "atr"},
        {"/protocol", "T=2", "protocol"},
        {"/applications/0/aid", "A0", "aid"},
        {"/applications/0/files/0/size", 1, "longer than the file size"},
        {"/applications/0/files/0/size", 70000, "size"},
        {"/applications/0/files/1/id", "0101", "appears twice"},
        {"/applications/0/files/0/data", "0G", "not a hex digit"},
        {"/applications/0/roles/0/key", "0011", "16, 24 or 32"},
        {"/applications/0/roles/0/id", 128, "0 to 127"},
        {"/applications/0/roles/0/update/0", "0999", "does not have"},
    };
    for (const auto& c : cases) {
        json doc = Minimal();
        doc[json::json_pointer(c.pointer)] = c.value;
        EXPECT_NE(ErrorOf(doc).find(c.expect), std::string::npos)
            << c.pointer << ": " << ErrorOf(doc);
    }
    json noAtr = Minimal();
    noAtr.erase("atr");
    EXPECT_NE(ErrorOf(noAtr).find("missing \"atr\""), std::string::npos);
    json twice = Minimal();
    twice["applications"].push_back(twice["applications"][0]);
    EXPECT_NE(ErrorOf(twice).find("appears twice"), std::string::npos);
}

class ImageFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vcard-image-test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir / "card.json";
        std::ofstream(path) << Minimal().dump();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir, path;
};

TEST(ParseImage, ReadsAndChecksTheContactlessPart) {
    json doc = Minimal();
    doc["contactless"] = {{"serial", "CL01"},
                          {"readKey", "000102030405060708090A0B0C0D0E0F"},
                          {"writeKey", "AA"},
                          {"file1", "0102"}};
    const auto img = ParseImage(doc);
    ASSERT_TRUE(img.contactless);
    EXPECT_EQ(img.contactless->serial, "CL01");
    EXPECT_EQ(img.contactless->files[0].size(), 2u);
    EXPECT_TRUE(img.contactless->files[1].empty());

    auto broken = [&](const char* key, const json& value) {
        json d = doc;
        d["contactless"][key] = value;
        return ErrorOf(d);
    };
    EXPECT_NE(broken("readKey", "0001").find("contactless.readKey"), std::string::npos);
    EXPECT_NE(broken("serial", "CL-0123456789ABCDEF").find("contactless.serial"),
              std::string::npos);
    EXPECT_NE(broken("writeKey", "").find("contactless.writeKey"), std::string::npos);
    EXPECT_NE(broken("file2", std::string(2050, 'A')).find("contactless.file2"), std::string::npos);
}

TEST_F(ImageFileTest, SaveWritesNewBytesAndKeepsUnknownMembers) {
    {
        ImageFile f(path);
        f.Image().applications[0].files.at(0x0101).data = {0xCA, 0xFE, 0x00};
        f.Save();
    }
    ImageFile again(path);
    EXPECT_EQ(again.Image().applications[0].files.at(0x0101).data, (Bytes{0xCA, 0xFE, 0x00}));
    std::ifstream in(path);
    const auto doc = json::parse(in);
    EXPECT_EQ(doc["note"], "kept");
    EXPECT_EQ(doc["applications"][0]["extra"], json::array({1, 2}));
    EXPECT_EQ(doc["applications"][0]["files"][1]["id"], 258);
    // Nothing is left beside the image.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(ImageFileTest, FailedSaveLeavesTheOldImage) {
    if (::geteuid() == 0) {
        // root writes into read-only folders; a missing folder fails for everyone
        ImageFile f(path);
        std::filesystem::remove_all(dir);
        EXPECT_THROW(f.Save(), ImageError);
        std::filesystem::create_directories(dir);
        return;
    }
    ImageFile f(path);
    f.Image().applications[0].files.at(0x0101).data = {0xEE};
    ::chmod(dir.c_str(), 0500);
    EXPECT_THROW(f.Save(), ImageError);
    ::chmod(dir.c_str(), 0700);
    EXPECT_EQ(ImageFile(path).Image().applications[0].files.at(0x0101).data, (Bytes{1, 2}));
}

TEST_F(ImageFileTest, UnreadableOrBrokenFilesAreImageErrors) {
    EXPECT_THROW(ImageFile(dir / "missing.json"), ImageError);
    std::ofstream(dir / "broken.json") << "{\"atr\": ";
    EXPECT_THROW(ImageFile(dir / "broken.json"), ImageError);
}

TEST(SampleImages, AreValid) {
    for (const char* name : {"sample-t0.json", "sample-t1.json"}) {
        const auto p = std::filesystem::path(CARVIX_TEST_CARDS_DIR) / name;
        ImageFile f(p);
        EXPECT_EQ(f.Image().applications.size(), 2u) << name;
    }
    EXPECT_EQ(
        ImageFile(std::filesystem::path(CARVIX_TEST_CARDS_DIR) / "sample-t1.json").Image().protocol,
        Protocol::T1);
}

}  // namespace
}  // namespace carvix::vcard
