// The merge of a split export's parts into one set: parts of one set merge
// into what one writer would have written; parts that are not one set are
// left alone.
#include "shape/set_merge.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <shapefil.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shape/output_set.h"

namespace {

namespace fs = std::filesystem;

struct PartPlan {
    int type;           // shape type
    int fieldWidth;     // width of the field ID
    std::vector<double> xs;  // one point (or one two-vertex line) per x
};

// Writes a part with shapelib under p_base and opens its files.
tvPartFiles writePart(const std::string& p_base, const PartPlan& p_plan) {
    SHPHandle shp = SHPCreate(p_base.c_str(), p_plan.type);
    DBFHandle dbf = DBFCreate(p_base.c_str());
    DBFAddField(dbf, "ID", FTInteger, p_plan.fieldWidth, 0);
    for (size_t i = 0; i < p_plan.xs.size(); ++i) {
        double x[2] = {p_plan.xs[i], p_plan.xs[i] + 1};
        double y[2] = {-p_plan.xs[i], 5};
        SHPObject* object = SHPCreateSimpleObject(p_plan.type, p_plan.type == SHPT_POINT ? 1 : 2, x, y, nullptr);
        SHPWriteObject(shp, -1, object);
        SHPDestroyObject(object);
        DBFWriteIntegerAttribute(dbf, static_cast<int>(i), 0, static_cast<int>(p_plan.xs[i]));
    }
    SHPClose(shp);
    DBFClose(dbf);
    tvPartFiles files;
    files.fill(-1);
    files[TV_PART_SHP] = ::open((p_base + ".shp").c_str(), O_RDONLY | O_CLOEXEC);
    files[TV_PART_DBF] = ::open((p_base + ".dbf").c_str(), O_RDONLY | O_CLOEXEC);
    return files;
}

TEST(SetMerge, PartsOfOneSetMergeAndOthersAreLeftAlone) {
    struct Case {
        const char* name;
        std::vector<PartPlan> parts;
        tvMergeResult expected;
        long long records;
        double bounds[4];  // x min, y min, x max, y max of the merged set
    } cases[] = {
        {"points, an empty part between", {{SHPT_POINT, 9, {3, 4}}, {SHPT_POINT, 9, {}}, {SHPT_POINT, 9, {-2, 8, 1}}},
         TV_MERGE_DONE, 5, {-2, -8, 8, 2}},
        {"lines", {{SHPT_ARC, 9, {1}}, {SHPT_ARC, 9, {7}}}, TV_MERGE_DONE, 2, {1, -7, 8, 5}},
        {"another shape type", {{SHPT_POINT, 9, {1}}, {SHPT_ARC, 9, {2}}}, TV_MERGE_MISMATCH, 0, {0, 0, 0, 0}},
        {"another field width", {{SHPT_POINT, 9, {1}}, {SHPT_POINT, 10, {2}}}, TV_MERGE_MISMATCH, 0, {0, 0, 0, 0}},
    };
    const fs::path dir = fs::temp_directory_path() / ("tarvex-merge-" + std::to_string(::getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::vector<tvPartFiles> parts;
        std::vector<double> xs;
        for (size_t i = 0; i < c.parts.size(); ++i) {
            parts.push_back(writePart((dir / ("part" + std::to_string(i))).string(), c.parts[i]));
            xs.insert(xs.end(), c.parts[i].xs.begin(), c.parts[i].xs.end());
        }
        const std::string base = (dir / "set").string();
        tvOutputSet set;
        ASSERT_TRUE(set.begin(base));
        tvSetActiveOutputSet(&set);
        long long records = -1;
        EXPECT_EQ(tvMergeParts(parts, base, false, records), c.expected);
        tvSetActiveOutputSet(nullptr);
        for (const tvPartFiles& files : parts) {
            for (int fd : files)
                if (fd >= 0) ::close(fd);
        }
        if (c.expected != TV_MERGE_DONE) {
            set.abandon();
            EXPECT_FALSE(fs::exists(base + ".shp"));
            continue;
        }
        ASSERT_TRUE(set.commit());
        EXPECT_EQ(records, c.records);
        // shapelib reads the set: the index, the records in part order, the
        // attributes beside them, the bounds of all parts.
        SHPHandle shp = SHPOpen(base.c_str(), "rb");
        DBFHandle dbf = DBFOpen(base.c_str(), "rb");
        ASSERT_NE(shp, nullptr);
        ASSERT_NE(dbf, nullptr);
        int count = 0, type = 0;
        double low[4], high[4];
        SHPGetInfo(shp, &count, &type, low, high);
        EXPECT_EQ(count, c.records);
        EXPECT_EQ(DBFGetRecordCount(dbf), c.records);
        EXPECT_EQ(type, c.parts[0].type);
        EXPECT_EQ(std::vector<double>({low[0], low[1], high[0], high[1]}),
                  std::vector<double>(c.bounds, c.bounds + 4));
        for (int i = 0; i < count; ++i) {
            SHPObject* object = SHPReadObject(shp, i);
            ASSERT_NE(object, nullptr);
            EXPECT_EQ(object->padfX[0], xs[static_cast<size_t>(i)]);
            EXPECT_EQ(DBFReadIntegerAttribute(dbf, i, 0), static_cast<int>(xs[static_cast<size_t>(i)]));
            SHPDestroyObject(object);
        }
        SHPClose(shp);
        DBFClose(dbf);
        EXPECT_EQ(fs::file_size(base + ".shx"), 100u + 8u * static_cast<unsigned>(c.records));
    }
    fs::remove_all(dir);
}

}  // namespace
