#include "frame/records.h"

#include "frame/failures.h"
#include "frame/text.h"
#include "support/failure.h"

#include <VyrCldapi/Models.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

// A record defined only here, to show the generic rules need nothing but its field conversion.
namespace vyr::cld::test {
struct Label {
    std::string text;
    friend bool operator==(const Label&, const Label&) = default;
};
} // namespace vyr::cld::test

namespace vyr::cld::bridge {
template <>
struct marshaller<test::Label, VyrCldapi::Ref<VyrCldapi::ApiModels::Tag>> {
    static test::Label convert(const VyrCldapi::Ref<VyrCldapi::ApiModels::Tag>& tag)
    {
        return {marshal_as<std::string>(deref(tag).id)};
    }
};
} // namespace vyr::cld::bridge

namespace vyr::cld::test {
namespace {

using bridge::marshal_as;
using VyrCldapi::List;
using VyrCldapi::Ref;
using VyrCldapi::String;
using VyrCldapi::ApiModels::Tag;
using Tags = List<Ref<Tag>>;

Ref<Tag> tag(String id)
{
    auto made = std::make_shared<Tag>();
    made->id = std::move(id);
    return made;
}

TEST(RecordRules, NullObjectIsAbsentInTheOptionalFormAndAFailureOtherwise)
{
    EXPECT_EQ(marshal_as<std::optional<Label>>(Ref<Tag>()), std::nullopt);
    EXPECT_EQ(marshal_as<std::optional<Label>>(tag(u"a")), Label{"a"});
    EXPECT_EQ(failure_of([] { (void)marshal_as<Label>(Ref<Tag>()); }).Kind(), VyrCldapi::ExceptionKind::NullReference);
}

TEST(RecordRules, NullListIsEmptyVectorOrAbsentOptional)
{
    EXPECT_TRUE(marshal_as<std::vector<Label>>(Tags()).empty());
    EXPECT_EQ(marshal_as<std::optional<std::vector<Label>>>(Tags()), std::nullopt);
    EXPECT_EQ(marshal_as<std::optional<std::vector<Label>>>(Tags::WithCapacity(0)), std::vector<Label>{});
}

TEST(RecordRules, OrderAndDuplicatesAreKept)
{
    const Tags tags{tag(u"b"), tag(u"a"), tag(u"b")};
    const std::vector<Label> expected{{"b"}, {"a"}, {"b"}};
    const auto converted = marshal_as<std::vector<Label>>(tags);
    EXPECT_EQ(converted, expected);
    EXPECT_EQ(converted.capacity(), tags.Count());
    EXPECT_EQ(marshal_as<std::optional<std::vector<Label>>>(tags), expected);
}

TEST(RecordRules, OneBadElementFailsTheWholeList)
{
    for (const auto& tags : {Tags{tag(u"a"), nullptr, tag(u"c")}, Tags{tag(u"a"), tag(String()), tag(u"c")}}) {
        EXPECT_THROW((void)marshal_as<std::vector<Label>>(tags), VyrCldapi::Exception);
        EXPECT_THROW((void)marshal_as<std::optional<std::vector<Label>>>(tags), VyrCldapi::Exception);
    }
}

} // namespace
} // namespace vyr::cld::test
