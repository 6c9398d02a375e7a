// The store's rules, the same on both record stores: a local store's SQLite file and the team
// service's PostgreSQL database.
#include "backends.h"

#include <VyrCldapi/Enums.h>
#include <gtest/gtest.h>

#include <vyr/cld/domain/folders.h>

#include <chrono>
#include <functional>
#include <map>
#include <thread>

namespace vyr::cld::domain::test {
namespace {

using VyrCldapi::StatusEventType;

class Rules : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        backend = make_backend(GetParam());
        anna = backend->user("anna");
        bert = backend->user("bert");
        carl = backend->user("carl");
        const auto domain = backend->domain(anna);
        const auto made = domain->create_project(backend->tenant(), "Bridge", "");
        ASSERT_EQ(made.code, created);
        project = made.value;
        backend->grant(bert, project.id, Role::Member);
        space = domain->create_partition(project.id, "Design", 1).value;
        for (const char* name : {"a.txt", "b.txt", "d.txt"}) {
            ASSERT_EQ(domain->commit({space.id, name, std::nullopt, "blob", 4, false, false}).code, created);
        }
    }

    std::unique_ptr<Backend> backend;
    UserRow anna, bert, carl;
    ProjectRow project;
    SpaceRow space;
};

TEST_P(Rules, LocksCommitsAgainstABaseDeletesAndRenames)
{
    enum class Op { Commit, Lock, Unlock, Remove, Rename };
    struct Step {
        const UserRow* who;
        Op op;
        std::string name, arg;
        std::int64_t base; // the revision the working copy was based on; 0: none
        int code;
    };
    const std::vector<Step> steps{
        {&anna, Op::Commit, "f.txt", "one", 0, created},
        {&bert, Op::Commit, "f.txt", "two", 1, ok},
        {&anna, Op::Commit, "f.txt", "three", 1, conflict}, // stale base
        {&anna, Op::Commit, "f.txt", "two", 1, ok},         // the content the store holds already
        {&anna, Op::Lock, "f.txt", "", 0, ok},
        {&anna, Op::Lock, "f.txt", "", 0, ok}, // again by the holder
        {&bert, Op::Lock, "f.txt", "", 0, conflict},
        {&bert, Op::Commit, "f.txt", "four", 2, conflict},
        {&bert, Op::Unlock, "f.txt", "", 0, conflict},
        {&bert, Op::Rename, "f.txt", "g.txt", 0, conflict},
        {&bert, Op::Remove, "f.txt", "", 0, conflict},
        {&anna, Op::Commit, "f.txt", "three", 2, ok}, // revision 3
        {&anna, Op::Unlock, "f.txt", "", 0, ok},
        {&bert, Op::Rename, "f.txt", "g.txt", 0, ok}, // revision 4
        {&anna, Op::Lock, "f.txt", "", 0, not_found},
        {&anna, Op::Rename, "g.txt", "A.TXT", 0, conflict}, // taken, by case
        {&bert, Op::Remove, "g.txt", "", 0, ok},            // revision 5
        {&anna, Op::Commit, "g.txt", "six", 4, conflict},   // would undo the delete
        {&anna, Op::Lock, "../x.txt", "", 0, bad_request},
        {&anna, Op::Lock, "F.TXT", "", 0, not_found},
        {&anna, Op::Lock, "A.TXT", "", 0, bad_request}, // the stored name differs by case
    };
    std::string fileId;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& step = steps[i];
        const auto domain = backend->domain(*step.who);
        int code = 0;
        switch (step.op) {
        case Op::Commit: {
            std::optional<Base> base;
            if (step.base > 0) {
                base = Base{fileId, step.base};
            }
            const auto answer = domain->commit(
                {space.id, step.name, base, step.arg, static_cast<std::int64_t>(step.arg.size()), false, false});
            code = answer.code;
            if (code == created) {
                fileId = answer.value.id;
            }
            break;
        }
        case Op::Lock: code = domain->lock(space.id, step.name).code; break;
        case Op::Unlock: code = domain->unlock(space.id, step.name); break;
        case Op::Remove: code = domain->remove(space.id, step.name).code; break;
        case Op::Rename: code = domain->rename(space.id, step.name, step.arg).code; break;
        }
        EXPECT_EQ(code, step.code) << "step " << i;
    }
    const auto file = backend->domain(anna)->files(space.id);
    const auto g = std::find_if(file.begin(), file.end(), [](const FileRow& f) { return f.path == "g.txt"; });
    ASSERT_NE(g, file.end());
    EXPECT_TRUE(g->deleted);
    EXPECT_EQ(g->revision, 5);
    EXPECT_EQ(g->blob, "three");
}

// A name a file is given (an upload of a new file, a rename's target) must be one every member's
// working folder can hold, Windows' included; "a.txt", "b.txt" and "d.txt" are stored already.
TEST_P(Rules, NamesEveryWorkingFolderCanHold)
{
    struct Row {
        std::string name;
        int code;
        const char* why;
        int renamed = 0; // the rename's answer when it is not the upload's
    };
    const std::vector<Row> rows{
        {"plan.dwg", created, "plain"},
        {"Site/Plan 3.dwg", created, "in a folder"},
        {"con", bad_request, "a device"},
        {"NUL.txt", bad_request, "a device, whatever the extension"},
        {"Aux.tar.gz", bad_request, "a device before the first dot"},
        {"com1 .dwg", bad_request, "a device with spaces before the extension"},
        {"lpt9", bad_request, "a device"},
        {"COM\xC2\xB9", bad_request, "a device, superscript one"},
        {"x/prn/y.dwg", bad_request, "a device as a folder"},
        {"conin$", bad_request, "the console's input"},
        {"com10.dwg", created, "not a device"},
        {"lpt0", created, "not a device"},
        {"console.txt", created, "CON only as the whole base name"},
        {"nul-report.txt", created, "not a device"},
        {"report.", bad_request, "a trailing dot, which Windows drops"},
        {"report ", bad_request, "a trailing space, which Windows drops"},
        {"draft./x.dwg", bad_request, "a folder ending in a dot"},
        {"...", bad_request, "only dots"},
        {".hidden", created, "a leading dot"},
        {" lead.txt", created, "a leading space"},
        {"a<b", bad_request, "refused by Windows"},
        {"a>b", bad_request, "refused by Windows"},
        {"c:d.txt", bad_request, "a drive or a stream"},
        {"say \"hi\"", bad_request, "refused by Windows"},
        {"a|b", bad_request, "refused by Windows"},
        {"what?", bad_request, "refused by Windows"},
        {"*.dwg", bad_request, "refused by Windows"},
        {"tab\there", bad_request, "a control character"},
        // Uploading over a case-only twin is refused; renaming onto one finds the name taken.
        {"A.TXT", bad_request, "a.txt differs only by case", conflict},
        {"site/plan 2.DWG", bad_request, "Site/Plan 2.dwg differs only by case", conflict},
        {"SITE/Plan 2.dwg", bad_request, "the same, by the folder's case", conflict},
        // A folder is spelt as the files in it spell it: a host that ignores case has one folder.
        {"site/other.dwg", bad_request, "the folder Site spelt otherwise", conflict},
        {"SITE/deeper/x.dwg", bad_request, "the same, further down", conflict},
        {"Site/deeper/x.dwg", created, "the folder as stored"},
    };
    const auto domain = backend->domain(anna);
    ASSERT_EQ(domain->commit({space.id, "Site/Plan 2.dwg", std::nullopt, "blob", 4, false, false}).code, created);
    for (const auto& row : rows) {
        // Decided as an upload decides before it sends the bytes; a rename gives the name as well.
        EXPECT_EQ(domain->commit({space.id, row.name, std::nullopt, "blob", 4, false, true}).code, row.code)
            << row.name << ": " << row.why;
        const int renamed = row.renamed != 0 ? row.renamed : row.code == created ? ok : row.code;
        EXPECT_EQ(domain->rename(space.id, "d.txt", row.name).code, renamed) << row.name << ": " << row.why;
        if (renamed == ok) {
            ASSERT_EQ(domain->rename(space.id, row.name, "d.txt").code, ok) << row.name;
        }
    }
    // A case-only twin of another file is taken; of the file itself, a new spelling.
    EXPECT_EQ(domain->rename(space.id, "b.txt", "A.txt").code, conflict);
    EXPECT_EQ(domain->rename(space.id, "a.txt", "A.txt").code, ok);
    // The only file of a folder may spell it anew; one of two may not.
    ASSERT_EQ(domain->commit({space.id, "Solo/x.dwg", std::nullopt, "blob", 4, false, false}).code, created);
    EXPECT_EQ(domain->rename(space.id, "Solo/x.dwg", "SOLO/x.dwg").code, ok);
    ASSERT_EQ(domain->commit({space.id, "SOLO/y.dwg", std::nullopt, "blob", 4, false, false}).code, created);
    EXPECT_EQ(domain->rename(space.id, "SOLO/x.dwg", "solo/x.dwg").code, conflict);
    // A file stored before the rule keeps its name until it is renamed or deleted.
    backend->store()->write([&](Records& records) {
        std::int64_t seq = 0;
        records.put_revision({"old", space.id, "old:name.txt", 1, "blob", 4, false, {}, 0}, "old:name.txt", anna.id, 1,
                             seq);
    });
    EXPECT_EQ(domain->lock(space.id, "old:name.txt").code, ok);
    EXPECT_EQ(domain->commit({space.id, "old:name.txt", Base{"old", 1}, "new", 3, false, false}).code, ok);
    EXPECT_EQ(domain->rename(space.id, "old:name.txt", "old name.txt").code, ok);
}

// Every revision takes the space's next change number: a reader who keeps the last number it saw
// gets each change once, in the order they were made.
TEST_P(Rules, ChangesAfterTheLastNumberSeen)
{
    const auto domain = backend->domain(bert);
    const auto paths = [](const std::vector<FileRow>& files) {
        std::vector<std::string> out;
        for (const auto& file : files) {
            out.push_back(file.path + (file.deleted ? " (deleted)" : ""));
        }
        return out;
    };
    // New content on the file's newest revision.
    const auto update = [&](const std::string& name, const std::string& blob) {
        const auto file = domain->file(space.id, name).value;
        return domain->commit({space.id, name, Base{file.id, file.revision}, blob, 1, true, false}).code;
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<std::string> changed;
    };
    const std::vector<Step> steps{
        {"first read", [] {}, {"a.txt", "b.txt", "d.txt"}},
        {"nothing new", [] {}, {}},
        {"a lock is no change", [&] { domain->lock(space.id, "b.txt"); }, {}},
        {"content, then a rename",
         [&] {
             ASSERT_EQ(update("b.txt", "new"), ok);
             ASSERT_EQ(domain->rename(space.id, "a.txt", "z.txt").code, ok);
         },
         {"b.txt", "z.txt"}},
        {"unchanged content is no change", [&] { ASSERT_EQ(update("b.txt", "new"), ok); }, {}},
        {"a delete, and a change of a file changed before",
         [&] {
             ASSERT_EQ(domain->remove(space.id, "d.txt").code, ok);
             ASSERT_EQ(update("z.txt", "again"), ok);
         },
         {"d.txt (deleted)", "z.txt"}},
    };
    std::int64_t seen = 0;
    for (const auto& step : steps) {
        step.act();
        const auto changed = domain->changes(space.id, seen);
        EXPECT_EQ(paths(changed), step.changed) << step.what;
        for (const auto& file : changed) {
            EXPECT_GT(file.seq, seen) << step.what;
            seen = file.seq;
        }
    }
    EXPECT_EQ(backend->domain(carl)->changes(space.id, 0).empty(), backend->isolates());
}

// Every answer that carries a file after a write carries the change number its row holds: a reader
// who takes its cursor from the answer never reads its own change again.
TEST_P(Rules, AnAnswerCarriesTheChangeNumberItsRowHolds)
{
    const auto domain = backend->domain(anna);
    const auto row_of = [&](const std::string& id) {
        for (const auto& file : domain->files(space.id)) {
            if (file.id == id) {
                return file;
            }
        }
        return FileRow{};
    };
    const auto commit = [&](const std::string& name, const std::string& blob, bool unlock) {
        const auto stored = domain->file(space.id, name);
        std::optional<Base> base;
        if (stored.code == ok) {
            base = Base{stored.value.id, stored.value.revision};
        }
        return domain->commit({space.id, name, base, blob, static_cast<std::int64_t>(blob.size()), unlock, false});
    };
    struct Case {
        const char* what;
        std::function<Answer<FileRow>()> act;
        bool writes; // a revision, so a change number of its own
    };
    const std::vector<Case> cases{
        {"a new file", [&] { return commit("n.txt", "one", false); }, true},
        {"new content", [&] { return commit("n.txt", "two", false); }, true},
        {"unchanged content", [&] { return commit("n.txt", "two", false); }, false},
        {"a lock", [&] { return domain->lock(space.id, "n.txt"); }, false},
        {"new content that unlocks", [&] { return commit("n.txt", "three", true); }, true},
        {"a rename", [&] { return domain->rename(space.id, "n.txt", "m.txt"); }, true},
        {"a delete", [&] { return domain->remove(space.id, "m.txt"); }, true},
        {"a new file under a deleted one's name", [&] { return commit("m.txt", "four", false); }, true},
    };
    std::int64_t seen = domain->changes(space.id, 0).back().seq;
    for (const auto& c : cases) {
        const auto answer = c.act();
        ASSERT_LT(answer.code, 300) << c.what;
        EXPECT_EQ(answer.value.seq, row_of(answer.value.id).seq) << c.what;
        EXPECT_TRUE(domain->changes(space.id, answer.value.seq).empty()) << c.what;
        if (c.writes) {
            EXPECT_GT(answer.value.seq, seen) << c.what;
        } else {
            EXPECT_EQ(answer.value.seq, seen) << c.what;
        }
        seen = answer.value.seq;
    }
}

// A user without a role in the project: on a local store every user shares the machine and sees
// everything; on the team service the project does not exist for them.
TEST_P(Rules, WhatAUserWithoutARoleSees)
{
    struct Case {
        const char* what;
        std::function<int(Domain&)> run;
        int local, team;
    };
    const std::vector<Case> cases{
        {"projects listed", [&](Domain& d) { return int(d.projects(backend->tenant()).value.size()); }, 1, 0},
        {"project", [&](Domain& d) { return d.project(project.id).code; }, ok, not_found},
        {"partitions", [&](Domain& d) { return d.partitions(project.id).code; }, ok, not_found},
        {"space", [&](Domain& d) { return int(d.space(space.id).has_value()); }, 1, 0},
        {"files", [&](Domain& d) { return int(d.files(space.id).size()); }, 3, 0},
        {"file", [&](Domain& d) { return d.file(space.id, "a.txt").code; }, ok, not_found},
        {"lock", [&](Domain& d) { return d.lock(space.id, "a.txt").code; }, ok, not_found},
        {"commit", [&](Domain& d) { return d.commit({space.id, "n.txt", {}, "n", 1, false, false}).code; }, created,
         not_found},
        {"rename", [&](Domain& d) { return d.rename(space.id, "b.txt", "c.txt").code; }, ok, not_found},
        {"remove", [&](Domain& d) { return d.remove(space.id, "d.txt").code; }, ok, not_found},
        {"partition", [&](Domain& d) { return d.create_partition(project.id, "More", 1).code; }, created, not_found},
        {"tag", [&](Domain& d) { return d.tag(project.id, {{space.id, "a.txt"}}, "c", "t"); }, ok, not_found},
    };
    const auto domain = backend->domain(carl);
    for (const auto& c : cases) {
        EXPECT_EQ(c.run(*domain), backend->isolates() ? c.team : c.local) << c.what;
    }
    // Nothing the user asked for changed the project for its members.
    if (backend->isolates()) {
        EXPECT_EQ(backend->domain(anna)->files(space.id).size(), 3u);
        EXPECT_FALSE(backend->domain(anna)->file(space.id, "a.txt").value.lock);
    }
}

// Only an admin of the project (or the holder) breaks a lock, and the holder is told who did.
TEST_P(Rules, ForcedUnlockTellsTheHolderWhoBrokeTheLock)
{
    backend->grant(carl, project.id, Role::Member);
    ASSERT_EQ(backend->domain(bert)->lock(space.id, "a.txt").code, ok);
    backend->domain(bert)->take_events();

    // A member may not, on the team service; every user of a local store is an admin.
    EXPECT_EQ(backend->domain(carl)->unlock_forced(space.id, "a.txt"), backend->isolates() ? forbidden : ok);
    const auto& breaker = backend->isolates() ? anna : carl;
    if (backend->isolates()) {
        EXPECT_TRUE(backend->domain(bert)->file(space.id, "a.txt").value.lock);
        EXPECT_EQ(backend->domain(anna)->unlock_forced(space.id, "a.txt"), ok);
    }
    EXPECT_FALSE(backend->domain(bert)->file(space.id, "a.txt").value.lock);
    const auto events = backend->domain(bert)->take_events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, static_cast<std::int32_t>(StatusEventType::Unlocked));
    EXPECT_EQ(events[0].status, conflict);
    EXPECT_EQ(events[0].responseId, "a.txt\n" + breaker.principalName);

    // The holder's own forced unlock tells nobody else.
    ASSERT_EQ(backend->domain(bert)->lock(space.id, "b.txt").code, ok);
    EXPECT_EQ(backend->domain(bert)->unlock_forced(space.id, "b.txt"), ok);
    const auto own = backend->domain(bert)->take_events();
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[1].status, ok);
}

// A page breaks the lock of the file it showed, by id: renamed since, and another file locked under
// its old name, the break still reaches the shown file and leaves the other alone.
TEST_P(Rules, ALockBrokenByIdFollowsTheFileThroughARename)
{
    const auto shown = backend->domain(bert)->file(space.id, "a.txt").value;
    ASSERT_EQ(backend->domain(bert)->lock(space.id, "a.txt").code, ok);
    ASSERT_EQ(backend->domain(bert)->rename(space.id, "a.txt", "moved.txt").code, ok);
    ASSERT_EQ(backend->domain(bert)->commit({space.id, "a.txt", std::nullopt, "new", 3, false, false}).code, created);
    ASSERT_EQ(backend->domain(bert)->lock(space.id, "a.txt").code, ok);

    EXPECT_EQ(backend->domain(anna)->unlock_forced_by_id(shown.id), ok);
    EXPECT_FALSE(backend->domain(bert)->file(space.id, "moved.txt").value.lock);
    EXPECT_TRUE(backend->domain(bert)->file(space.id, "a.txt").value.lock);

    ASSERT_EQ(backend->domain(bert)->lock(space.id, "moved.txt").code, ok);
    backend->grant(carl, project.id, Role::Member);
    EXPECT_EQ(backend->domain(carl)->unlock_forced_by_id(shown.id), backend->isolates() ? forbidden : ok);
    EXPECT_EQ(backend->domain(anna)->unlock_forced_by_id(std::string(32, 'f')), not_found);
}

// Every change of a file the domain makes is in the activity history, told from the project's side
// and from each person's, with a broken lock on the breaker's and the holder's; a space keeps its
// newest entries only.
TEST_P(Rules, TheActivityHistoryKeepsEveryChangeForProjectAndPersonWithinItsBound)
{
    ASSERT_EQ(backend->domain(bert)->lock(space.id, "a.txt").code, ok);
    ASSERT_EQ(backend->domain(anna)->unlock_forced(space.id, "a.txt"), ok);
    ASSERT_EQ(backend->domain(bert)->rename(space.id, "b.txt", "c.txt").code, ok);
    const auto a = backend->domain(bert)->file(space.id, "a.txt").value;
    ASSERT_EQ(backend->domain(bert)->commit({space.id, "a.txt", Base{a.id, 1}, "two", 3, false, false}).code, ok);
    ASSERT_EQ(backend->domain(bert)->remove(space.id, "d.txt").code, ok);
    ASSERT_EQ(backend->domain(bert)->lock(space.id, "a.txt").code, ok);
    ASSERT_EQ(backend->domain(bert)->unlock_all(), ok);

    using K = ActivityKind;
    const auto kinds = [](const ActivityPage& page) {
        std::vector<K> out;
        for (const auto& row : page.rows) {
            out.push_back(row.kind);
        }
        return out;
    };
    const auto all = backend->domain(anna)->project_activity(project.id, 0, 100);
    ASSERT_EQ(all.code, ok);
    EXPECT_EQ(all.value.total, 10);
    EXPECT_EQ(kinds(all.value), (std::vector<K>{K::Unlocked, K::Locked, K::Deleted, K::Stored, K::Renamed,
                                                K::BrokeLock, K::Locked, K::Added, K::Added, K::Added}));
    const auto& broke = all.value.rows[5];
    EXPECT_EQ(broke.actor.id, anna.id);
    ASSERT_TRUE(broke.subject);
    EXPECT_EQ(broke.subject->id, bert.id);
    EXPECT_EQ(broke.subject->displayName, bert.displayName);
    EXPECT_EQ(broke.path, "a.txt");
    EXPECT_EQ(broke.projectName, "Bridge");
    EXPECT_EQ(broke.spaceName, "Design");
    const auto& renamed = all.value.rows[4];
    EXPECT_EQ(renamed.oldPath, "b.txt");
    EXPECT_EQ(renamed.path, "c.txt");
    EXPECT_EQ(all.value.rows[3].revision, 2);
    EXPECT_EQ(all.value.rows[3].size, 3);
    EXPECT_GT(all.value.rows[3].time, 0);

    const auto page = backend->domain(anna)->project_activity(project.id, 8, 5).value;
    EXPECT_EQ(page.total, 10);
    EXPECT_EQ(kinds(page), (std::vector<K>{K::Added, K::Added}));
    // Bert's own: what he did, and the break of his lock.
    const auto his = backend->domain(bert)->activity(0, 100);
    EXPECT_EQ(kinds(his), (std::vector<K>{K::Unlocked, K::Locked, K::Deleted, K::Stored, K::Renamed, K::BrokeLock,
                                          K::Locked}));
    if (backend->isolates()) {
        EXPECT_EQ(backend->domain(carl)->project_activity(project.id, 0, 10).code, not_found);
        EXPECT_EQ(backend->domain(carl)->activity(0, 10).total, 0);
    }

    // The bound: the space's oldest entries go as new ones come.
    const auto add = [&](const std::string& prefix, std::int64_t count) {
        backend->store()->write([&](Records& records) {
            ActivityRow row;
            row.actor = anna;
            row.spaceId = space.id;
            row.projectId = project.id;
            for (std::int64_t i = 0; i < count; ++i) {
                row.path = prefix + std::to_string(i);
                records.add_activity(row);
            }
        });
    };
    add("bulk", activity_per_space);
    // 10 + activity_per_space entries: within the slack, all kept.
    EXPECT_EQ(backend->domain(anna)->project_activity(project.id, 0, 1).value.total, activity_per_space + 10);
    add("more", activity_slack);
    // The entry one past the slack dropped the oldest down to the bound (the domain's 10, then the
    // first bulk ones); the entries after it are kept.
    const auto dropped = activity_slack + 1;
    const auto after = 10 + activity_per_space + activity_slack - (activity_per_space + activity_slack + 1);
    const auto bounded = backend->domain(anna)->project_activity(project.id, activity_per_space, 100).value;
    EXPECT_EQ(bounded.total, activity_per_space + after);
    ASSERT_EQ(static_cast<std::int64_t>(bounded.rows.size()), after);
    EXPECT_EQ(bounded.rows.back().path, "bulk" + std::to_string(dropped - 10));
}

// What the team service's pages read: a file's history with its authors, a space's live files, a
// project's viewer updates and the user's events, each only for a user who may see it.
TEST_P(Rules, ThePagesReadHistoriesListsAndEventsOfWhatTheUserMaySee)
{
    const auto a = backend->domain(anna)->file(space.id, "a.txt").value;
    const auto d = backend->domain(anna)->file(space.id, "d.txt").value;
    const auto domain = backend->domain(bert);
    domain->take_events();
    ASSERT_EQ(domain->commit({space.id, "a.txt", Base{a.id, 1}, "two", 3, false, false}).code, ok);
    ASSERT_EQ(domain->remove(space.id, "d.txt").code, ok);
    const auto update = backend->domain(anna)->add_model_update(
        {{}, project.id, 3, 25832, "wing", "L1", 1.5, -2, {}, 0}, {{space.id, "b.txt"}, {space.id, "a.txt"}, {space.id, "b.txt"}});
    ASSERT_EQ(update.code, created);

    const auto history = domain->revisions(a.id).value;
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].author.id, anna.id);
    EXPECT_EQ(history[0].author.displayName, anna.displayName);
    EXPECT_EQ(history[1].author.id, bert.id);
    EXPECT_EQ(history[1].blob, "two");
    EXPECT_EQ(history[1].size, 3);
    EXPECT_GT(history[1].time, 0);
    const auto removed = domain->revisions(d.id).value;
    ASSERT_EQ(removed.size(), 2u);
    EXPECT_TRUE(removed.back().deleted);

    const auto entries = domain->space_entries(space.id).value;
    ASSERT_EQ(entries.size(), 2u); // d.txt was deleted
    EXPECT_EQ(entries[0].file.path, "a.txt");
    EXPECT_EQ(entries[0].current.revision, 2);
    EXPECT_EQ(entries[0].current.author.id, bert.id);

    const auto view = domain->file_by_id(a.id);
    ASSERT_EQ(view.code, ok);
    EXPECT_EQ(view.value.space.id, space.id);
    ASSERT_TRUE(view.value.project);
    EXPECT_EQ(view.value.project->id, project.id);
    EXPECT_EQ(view.value.role, backend->isolates() ? Role::Member : Role::Admin);
    EXPECT_EQ(backend->domain(anna)->role(project.id), Role::Admin);

    const auto updates = domain->model_updates(project.id).value;
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].update.id, update.value);
    EXPECT_EQ(updates[0].update.epsg, 25832);
    // In the host's order, a file given twice at its first place.
    EXPECT_EQ(updates[0].paths, (std::vector<std::string>{"b.txt", "a.txt"}));

    // Read newest first, and left in place for the event feed.
    const auto events = domain->recent_events(10);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event.type, static_cast<std::int32_t>(StatusEventType::Deleted));
    EXPECT_EQ(events[1].event.responseId, "a.txt");
    EXPECT_EQ(domain->recent_events(1).size(), 1u);
    EXPECT_EQ(domain->take_events().size(), 2u);

    const auto stranger = backend->domain(carl);
    const struct {
        const char* what;
        int code;
    } hidden[] = {
        {"file", stranger->file_by_id(a.id).code},
        {"revisions", stranger->revisions(a.id).code},
        {"space", stranger->space_entries(space.id).code},
        {"updates", stranger->model_updates(project.id).code},
    };
    for (const auto& c : hidden) {
        EXPECT_EQ(c.code, backend->isolates() ? not_found : ok) << c.what;
    }
    EXPECT_EQ(stranger->role(project.id).has_value(), !backend->isolates());
    EXPECT_EQ(domain->file_by_id(std::string(32, 'f')).code, not_found);
}

// Content is read through the revisions that name it: those of the spaces a user may read. A user
// directory is its owner's alone, on both stores.
TEST_P(Rules, ContentIsReadThroughTheRevisionsAUserMayRead)
{
    const auto directory = backend->domain(carl)->create_user_directory(1).value;
    ASSERT_EQ(backend->domain(carl)->commit({directory.id, "m.txt", std::nullopt, "mine", 4, false, false}).code,
              created);
    ASSERT_EQ(backend->domain(bert)->remove(space.id, "d.txt").code, ok); // its history still names "blob"
    const struct {
        const UserRow* who;
        const char* hash;
        bool local, team;
    } cases[] = {
        {&anna, "blob", true, true},   {&bert, "blob", true, true}, {&carl, "blob", true, false},
        {&carl, "mine", true, true},   {&anna, "mine", false, false}, {&bert, "mine", false, false},
        {&anna, "never", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(backend->domain(*c.who)->reads_blob(c.hash), backend->isolates() ? c.team : c.local)
            << c.who->id << " " << c.hash;
    }
}

// A model update is shown to every member of its project: it takes only that project's files.
TEST_P(Rules, AModelUpdateTakesOnlyFilesOfItsProjectsPartitions)
{
    const auto domain = backend->domain(anna);
    const auto other = domain->create_project(backend->tenant(), "Tunnel", "");
    ASSERT_EQ(other.code, created);
    const auto side = domain->create_partition(other.value.id, "Side", 1).value;
    ASSERT_EQ(domain->commit({side.id, "s.txt", std::nullopt, "side", 4, false, false}).code, created);
    const auto own = domain->create_user_directory(1).value;
    ASSERT_EQ(domain->commit({own.id, "o.txt", std::nullopt, "own", 3, false, false}).code, created);
    const struct {
        const char* what;
        SpaceFile file;
        int code;
    } cases[] = {
        {"another project's partition", {side.id, "s.txt"}, not_found},
        {"the creator's own directory", {own.id, "o.txt"}, not_found},
        {"the project's partition", {space.id, "a.txt"}, created},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(domain->add_model_update({{}, project.id, 3, 25832, "wing", "L1", 0, 0, {}, 0}, {c.file}).code, c.code)
            << c.what;
    }
    // One recorded before the rule held: its members are not shown the other spaces' files.
    const auto a = domain->file(space.id, "a.txt").value.id;
    const auto s = domain->file(side.id, "s.txt").value.id;
    const auto o = domain->file(own.id, "o.txt").value.id;
    backend->store()->write([&](Records& records) {
        records.add_model_update({new_id(), project.id, 3, 25832, "", "", 0, 0, {s, a, o}, 0}, anna.id);
    });
    for (const auto& update : backend->domain(bert)->model_updates(project.id).value) {
        EXPECT_EQ(update.paths, std::vector<std::string>{"a.txt"}) << update.update.id;
    }
}

// A folder's page reads one folder: its sub-folders with their counts, then its files in natural
// order or by size, time or revision, a page at a time; a filter searches everything beneath it.
TEST_P(Rules, AFolderPageListsOneFolderAndAFilterSearchesBeneathIt)
{
    const auto domain = backend->domain(anna);
    const std::pair<const char*, std::int64_t> files[] = {
        {"Plans/liggende 21.dwg", 30}, {"Plans/liggende 5.dwg", 10}, {"Plans/Élévation.pdf", 20},
        {"Plans/Ørsta/kart 10.dwg", 1}, {"Plans/Ørsta/kart 2.dwg", 2}, {"Notes/x.txt", 3}};
    for (const auto& [name, size] : files) {
        ASSERT_EQ(domain->commit({space.id, name, std::nullopt, "blob", size, false, false}).code, created) << name;
    }
    const auto late = domain->file(space.id, "Plans/liggende 5.dwg").value;
    ASSERT_EQ(domain->commit({space.id, late.path, Base{late.id, 1}, "two", 11, false, false}).code, ok);
    ASSERT_EQ(backend->domain(bert)->lock(space.id, "Plans/liggende 21.dwg").code, ok);
    ASSERT_EQ(domain->lock(space.id, "Plans/Ørsta/kart 10.dwg").code, ok);
    ASSERT_EQ(domain->remove(space.id, "d.txt").code, ok);
    // The last file of a folder moved away takes the folder with it.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(domain->rename(space.id, "Notes/x.txt", "Plans/Ørsta/y.txt").code, ok);
    const auto since = domain->file(space.id, "Plans/Ørsta/y.txt").value.changed;

    using Sort = FolderSort;
    const struct {
        const char* what;
        FolderQuery query;
        std::vector<std::string> folders, files;
        std::int64_t total;
    } cases[] = {
        {"top", {}, {"Plans"}, {"a.txt", "b.txt"}, 3},
        {"natural order", {.folder = "Plans"}, {"Plans/Ørsta"}, {"Plans/Élévation.pdf", "Plans/liggende 5.dwg", "Plans/liggende 21.dwg"}, 4},
        {"by size, largest first", {.folder = "plans", .sort = Sort::Size, .descending = true}, {"Plans/Ørsta"},
         {"Plans/liggende 21.dwg", "Plans/Élévation.pdf", "Plans/liggende 5.dwg"}, 4},
        {"by revision", {.folder = "Plans", .sort = Sort::Revision, .descending = true}, {"Plans/Ørsta"},
         {"Plans/liggende 5.dwg", "Plans/liggende 21.dwg", "Plans/Élévation.pdf"}, 4},
        {"a first page", {.folder = "Plans", .limit = 2}, {"Plans/Ørsta"}, {"Plans/Élévation.pdf"}, 4},
        {"a later page", {.folder = "Plans", .offset = 2, .limit = 5}, {}, {"Plans/liggende 5.dwg", "Plans/liggende 21.dwg"}, 4},
        {"numbers by value", {.folder = "Plans/Ørsta"}, {}, {"Plans/Ørsta/kart 2.dwg", "Plans/Ørsta/kart 10.dwg", "Plans/Ørsta/y.txt"}, 3},
        {"contains, beneath", {.contains = "KART"}, {}, {"Plans/Ørsta/kart 2.dwg", "Plans/Ørsta/kart 10.dwg"}, 2},
        {"contains, under the folder only", {.folder = "Plans", .contains = "plans"}, {}, {}, 0},
        {"locked", {.locked = true}, {}, {"Plans/Ørsta/kart 10.dwg", "Plans/liggende 21.dwg"}, 2},
        {"locked by me", {.lockedByMe = true}, {}, {"Plans/Ørsta/kart 10.dwg"}, 1},
        {"changed since", {.changedSince = since}, {}, {"Plans/Ørsta/y.txt"}, 1},
    };
    for (const auto& c : cases) {
        const auto page = domain->folder(space.id, c.query);
        ASSERT_EQ(page.code, ok) << c.what;
        std::vector<std::string> folders, names;
        for (const auto& folder : page.value.folders) {
            folders.push_back(folder.path);
        }
        for (const auto& file : page.value.files) {
            names.push_back(file.path);
        }
        EXPECT_EQ(folders, c.folders) << c.what;
        EXPECT_EQ(names, c.files) << c.what;
        EXPECT_EQ(page.value.total, c.total) << c.what;
        EXPECT_EQ(page.value.space.id, space.id) << c.what;
    }

    const auto plans = domain->folder(space.id, {.folder = "Plans"}).value;
    EXPECT_EQ(plans.folder.path, "Plans");
    EXPECT_EQ(plans.folder.files, 6);
    EXPECT_EQ(plans.folder.direct, 3);
    EXPECT_EQ(plans.folders.at(0).files, 3);
    ASSERT_TRUE(plans.files.at(2).lock);
    EXPECT_EQ(plans.files.at(2).lock->holder.id, bert.id);
    EXPECT_GT(plans.files.at(2).lock->since, 0);
    EXPECT_EQ(plans.files.at(1).revision, 2);
    EXPECT_EQ(plans.files.at(1).size, 11);
    EXPECT_GE(plans.files.at(1).changed, plans.files.at(0).changed);
    EXPECT_EQ(domain->folder(space.id, {}).value.folder.files, 8);

    const struct {
        const char* what;
        int code;
    } refused[] = {
        {"a folder gone", domain->folder(space.id, {.folder = "Notes"}).code},
        {"no such folder", domain->folder(space.id, {.folder = "Plans/liggende 5.dwg"}).code},
        {"an unsafe name", domain->folder(space.id, {.folder = "../Plans"}).code},
        {"no limit", domain->folder(space.id, {.limit = 0}).code},
        {"a negative offset", domain->folder(space.id, {.offset = -1}).code},
        {"no such space", domain->folder(std::string(32, 'f'), {}).code},
        {"another's space", backend->domain(carl)->folder(space.id, {}).code},
    };
    const int expected[] = {not_found, not_found, bad_request, bad_request, bad_request, not_found,
                            backend->isolates() ? not_found : ok};
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(refused[i].code, expected[i]) << refused[i].what;
    }

    const auto locks = backend->domain(bert)->locks(project.id);
    ASSERT_EQ(locks.code, ok);
    ASSERT_EQ(locks.value.size(), 2u);
    EXPECT_EQ(locks.value[0].path, "Plans/liggende 21.dwg"); // the oldest lock first
    EXPECT_EQ(locks.value[1].lock->holder.id, anna.id);
    EXPECT_EQ(backend->domain(carl)->locks(project.id).code, backend->isolates() ? not_found : ok);
}

// A lock is broken only as it was shown: a page rendered before the holder changed breaks nothing
// and is told who holds it now; the reason given reaches the holder, and their history, as one line.
TEST_P(Rules, ALockIsBrokenOnlyAsItWasShown)
{
    const auto admin = backend->domain(anna);
    const auto member = backend->domain(bert);
    const auto id = admin->file(space.id, "a.txt").value.id;
    const auto taken = member->lock(space.id, "a.txt");
    ASSERT_EQ(taken.code, ok);
    const auto shown = *admin->file(space.id, "a.txt").value.lock;
    // The lock's answer tells the time it was stored with, which a page then names.
    EXPECT_EQ(taken.value.lock->since, shown.since);
    member->take_events();

    const struct {
        const char* what;
        std::string holder;
        Millis since;
        int code;
        std::optional<std::string> current; // the holder the answer names
    } cases[] = {
        {"another holder", anna.id, shown.since, conflict, bert.id},
        {"an older lock of the same holder", bert.id, shown.since - 1, conflict, bert.id},
    };
    for (const auto& c : cases) {
        const auto answer = admin->break_lock(id, c.holder, c.since, "");
        EXPECT_EQ(answer.code, c.code) << c.what;
        ASSERT_TRUE(answer.value) << c.what;
        EXPECT_EQ(answer.value->holder.id, *c.current) << c.what;
    }
    if (backend->isolates()) {
        ASSERT_EQ(member->unlock(space.id, "a.txt"), ok);
        ASSERT_EQ(admin->lock(space.id, "a.txt").code, ok);
        const auto own = *admin->file(space.id, "a.txt").value.lock;
        EXPECT_EQ(member->break_lock(id, anna.id, own.since, "").code, forbidden);
        ASSERT_EQ(admin->unlock(space.id, "a.txt"), ok);
        ASSERT_EQ(member->lock(space.id, "a.txt").code, ok);
    }
    const auto now = *admin->file(space.id, "a.txt").value.lock;
    const auto reason = "Away\nuntil\tMonday " + std::string(600, 'x');
    const auto broken = admin->break_lock(id, bert.id, now.since, reason);
    EXPECT_EQ(broken.code, ok);
    EXPECT_FALSE(admin->file(space.id, "a.txt").value.lock);
    const auto told = member->take_events();
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back().status, conflict);
    const auto by = anna.principalName.empty() ? anna.id : anna.principalName;
    const auto expected = "a.txt\n" + by + "\nAway until Monday " + std::string(max_reason_bytes - 18, 'x');
    EXPECT_EQ(told.back().responseId, expected);
    // The holder's history keeps the break with the same one-line reason.
    const auto history = member->activity(0, 1);
    ASSERT_EQ(history.rows.size(), 1u);
    EXPECT_EQ(history.rows[0].kind, ActivityKind::BrokeLock);
    EXPECT_EQ(history.rows[0].reason, expected.substr(expected.rfind('\n') + 1));

    const auto gone = admin->break_lock(id, bert.id, now.since, "");
    EXPECT_EQ(gone.code, conflict);
    EXPECT_FALSE(gone.value);
    EXPECT_EQ(admin->break_lock(std::string(32, 'f'), bert.id, now.since, "").code, not_found);
    EXPECT_EQ(backend->domain(carl)->break_lock(id, bert.id, now.since, "").code,
              backend->isolates() ? not_found : conflict);
}

TEST(NaturalKey, OrdersNamesAsPeopleReadThem)
{
    const std::vector<std::string> ordered{"1", "2", "10", "a", "A", "Å", "b", "é", "f", "liggende 5", "liggende 21",
                                           "liggende 100", "øst", "z"};
    for (std::size_t i = 0; i + 1 < ordered.size(); ++i) {
        EXPECT_LT(natural_key(ordered[i]), natural_key(ordered[i + 1])) << ordered[i] << " < " << ordered[i + 1];
    }
    EXPECT_EQ(natural_key("plan"), natural_key("plan"));
    EXPECT_LT(natural_key(""), natural_key("0"));
}

TEST(ViewerStatus, ScheduledForASecondInProgressUntilTheThird)
{
    const struct {
        Millis age;
        ViewerStatus status;
    } cases[] = {{0, ViewerStatus::Scheduled},     {999, ViewerStatus::Scheduled}, {1000, ViewerStatus::InProgress},
                 {2999, ViewerStatus::InProgress}, {3000, ViewerStatus::Success},  {-5, ViewerStatus::Scheduled}};
    for (const auto& c : cases) {
        EXPECT_EQ(viewer_status(c.age), c.status) << c.age;
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, Rules, ::testing::Values("sqlite", "postgres"),
                         [](const ::testing::TestParamInfo<std::string>& param) { return param.param; });

} // namespace
} // namespace vyr::cld::domain::test
