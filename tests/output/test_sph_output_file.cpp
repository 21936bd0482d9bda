// How the writers open and finish their files: paths that are not regular
// files are refused, and a write cut short leaves no partial file behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/sph_model.hpp"
#include "output/sph_output_csv.hpp"
#include "output/sph_output_vtu.hpp"
#include "output_test_support.hpp"

namespace {

using namespace output_test;
namespace fs = std::filesystem;

constexpr std::string_view csv_open_failed = "failed to open CSV output file";
constexpr std::string_view csv_write_failed = "failed to write CSV output file";
constexpr std::string_view vtu_open_failed = "failed to open VTU output file";
constexpr std::string_view vtu_write_failed = "failed to write VTU output file";
constexpr std::string_view summary_open_failed = "failed to open summary output file";
constexpr std::string_view summary_write_failed = "failed to write summary output file";
constexpr std::string_view pvd_open_failed = "failed to open PVD output file";

int write_csv(Model& m, const std::string& path) {
    return sph_output_write_csv(m, path);
}
int write_vtu(Model& m, const std::string& path) {
    return sph_output_write_vtu(m, path);
}

struct SingleFileWriter {
    const char* name;  // file name the case uses in its folder
    int (*write)(Model&, const std::string&);
    std::string_view open_failed;
};
const SingleFileWriter single_file_writers[] = {{"p.csv", write_csv, csv_open_failed},
                                                {"a.vtu", write_vtu, vtu_open_failed}};

// Whether a call returned `expected` with `message` (any message for 0);
// what it got instead goes to stderr, as this also runs in child processes.
bool returned(const Model& m, int status, int expected, std::string_view message) {
    if (status == expected && (expected == 0 || m.error.last_error_message == message)) {
        return true;
    }
    std::fprintf(stderr, "got %d \"%s\", expected %d \"%.*s\"\n", status,
                 m.error.last_error_message.c_str(), expected, static_cast<int>(message.size()),
                 message.data());
    return false;
}

// Runs `body` in a child process that an alarm ends after a few seconds, so a
// writer that waits on a FIFO fails the test at once instead of hanging it.
testing::AssertionResult in_child_without_blocking(const std::function<bool()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == -1) return testing::AssertionFailure() << "fork failed";
    if (child == 0) {
        alarm(10);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return testing::AssertionFailure() << "no child";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
        return testing::AssertionFailure() << "the writer blocked";
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return testing::AssertionFailure() << "wrong status or message (see stderr)";
    }
    return testing::AssertionSuccess();
}

// Side files anywhere below `dir`.
std::vector<std::string> side_files(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path().extension() == ".part") found.push_back(entry.path().string());
    }
    return found;
}

// n water particles on a 15 x 15 grid of layers, every value distinct: the
// files span several of the writer's 1 MiB buffers.
void fill_block(Model& m, int n) {
    allocate_particles(m, n);
    DbState& db = m.db;
    for (int i = 0; i < n; ++i) {
        db.particle_id_ext[i] = i + 1;
        db.particle_phase[i] = 1;
        db.material_id[i] = 1;
        db.section_id[i] = 1;
        db.x[i] = Vec3{0.1 * (i % 15), 0.1 * (i / 15 % 15), 0.1 * (i / 225)};
        db.v[i] = Vec3{1e-3 * i, -2e-3 * i, 0.5};
        db.a[i] = Vec3{0.0, 0.0, -9.81};
        db.rho[i] = 1000.0 + 1e-3 * i;
        db.pressure[i] = 1e5 + 17.25 * i;
        db.temperature[i] = 293.15;
        db.h[i] = 0.12;
    }
}

bool vtu_and_pvd_check(const std::vector<std::string>& paths) {
    std::string command = vtu_checker_command();
    for (const std::string& path : paths) command += " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

TEST(OutputFile, FifoTargetIsRefusedWithoutBlockingOrBeingWritten) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    for (const SingleFileWriter& w : single_file_writers) {
        const std::string path = dir.file(w.name);
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        // No reader: opening the FIFO for writing would wait for one.
        EXPECT_TRUE(in_child_without_blocking([&] {
            return returned(m, w.write(m, path), 3, w.open_failed);
        })) << w.name;
        // With a reader a writer would not wait: no text may reach it either.
        const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        EXPECT_EQ(w.write(m, path), 3) << w.name;
        EXPECT_EQ(m.error.last_error_message, w.open_failed);
        char byte = 0;
        EXPECT_LE(read(reader, &byte, 1), 0) << w.name << ": text went into the FIFO";
        close(reader);
        EXPECT_TRUE(fs::is_fifo(path)) << w.name;
    }
    EXPECT_EQ(side_files(dir.path()), std::vector<std::string>{});
}

TEST(OutputFile, StepRefusesAFifoAtAnyOfItsFiles) {
    TempDir dir;
    struct Case {
        const char* fifo;
        std::string_view message;
    };
    const Case cases[] = {{"velunor_00000001.csv", csv_open_failed},
                          {"velunor_00000001_summary.csv", summary_open_failed},
                          {"velunor_00000001.vtu", vtu_open_failed},
                          {"velunor.pvd", pvd_open_failed}};
    for (const Case& c : cases) {
        const fs::path folder = dir.path() / (std::string("fifo_") + c.fifo);
        fs::create_directory(folder);
        const std::string fifo = (folder / c.fifo).string();
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        Model m;
        fill_two_particles(m);
        m.control.output_directory = folder.string();
        EXPECT_TRUE(in_child_without_blocking([&] {
            return returned(m, sph_output_write_step(m, 1, 0.5), 3, c.message);
        })) << c.fifo;
        EXPECT_TRUE(fs::is_fifo(fifo)) << c.fifo;
    }
    EXPECT_EQ(side_files(dir.path()), std::vector<std::string>{});
}

TEST(OutputFile, DevicesAndDirectoriesAreRefused) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    for (const SingleFileWriter& w : single_file_writers) {
        // Devices are reached through links in the test folder, so that a
        // faulty writer can replace only the link, never the machine's device.
        for (const char* device : {"/dev/null", "/dev/full"}) {
            if (!fs::is_character_file(device)) continue;
            const fs::path link = dir.path() / (fs::path(device).filename().string() + w.name);
            fs::create_symlink(device, link);
            EXPECT_EQ(w.write(m, link.string()), 3) << device << " " << w.name;
            EXPECT_EQ(m.error.last_error_message, w.open_failed);
            EXPECT_TRUE(fs::is_symlink(link) && fs::is_character_file(link)) << link;
        }
        const fs::path folder = dir.path() / (std::string("folder_") + w.name);
        fs::create_directory(folder);
        EXPECT_EQ(w.write(m, folder.string()), 3) << w.name;
        EXPECT_EQ(m.error.last_error_message, w.open_failed);
        EXPECT_EQ(w.write(m, folder.string() + "/"), 3) << w.name;
        EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder)) << w.name;
    }
    EXPECT_EQ(sph_output_write_csv(m, ""), 3);  // would otherwise name "./.part"
    EXPECT_EQ(m.error.last_error_message, csv_open_failed);

    fs::create_directory(dir.path() / "step");
    fs::create_directory(dir.path() / "step" / "velunor_00000001.csv");
    m.control.output_directory = dir.file("step");
    EXPECT_EQ(sph_output_write_step(m, 1, 0.5), 3);
    EXPECT_EQ(m.error.last_error_message, csv_open_failed);
    EXPECT_TRUE(m.pvd.entries.empty());
    EXPECT_FALSE(fs::exists(dir.path() / "step" / "velunor_00000001.vtu"));
    EXPECT_EQ(side_files(dir.path()), std::vector<std::string>{});
}

TEST(OutputFile, LinksAndStaleSideFilesAreNeverWrittenThrough) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    ASSERT_EQ(sph_output_write_csv(m, dir.file("reference.csv")), 0);
    ASSERT_EQ(sph_output_write_vtu(m, dir.file("reference.vtu")), 0);
    std::ofstream(dir.file("victim"), std::ios::binary) << "keep";

    // A side file left as a FIFO would block a writer that opened it.
    ASSERT_EQ(mkfifo(dir.file("p.csv.part").c_str(), 0600), 0);
    EXPECT_TRUE(in_child_without_blocking(
        [&] { return returned(m, sph_output_write_csv(m, dir.file("p.csv")), 0, ""); }));
    EXPECT_EQ(read_file(dir.file("p.csv")), read_file(dir.file("reference.csv")));

    // A side file left as a link would carry the text to where it points.
    fs::create_symlink(dir.file("victim"), dir.file("a.vtu.part"));
    ASSERT_EQ(sph_output_write_vtu(m, dir.file("a.vtu")), 0);
    EXPECT_EQ(read_file(dir.file("a.vtu")), read_file(dir.file("reference.vtu")));
    EXPECT_EQ(read_file(dir.file("victim")), "keep");

    // A linked target is replaced by the new file; the file it named stays.
    fs::create_symlink(dir.file("victim"), dir.file("l.csv"));
    ASSERT_EQ(sph_output_write_csv(m, dir.file("l.csv")), 0);
    EXPECT_FALSE(fs::is_symlink(dir.file("l.csv")));
    EXPECT_EQ(read_file(dir.file("l.csv")), read_file(dir.file("reference.csv")));
    EXPECT_EQ(read_file(dir.file("victim")), "keep");

    // A side path that cannot be cleared fails the open and creates nothing.
    fs::create_directory(dir.file("d.vtu.part"));
    EXPECT_EQ(sph_output_write_vtu(m, dir.file("d.vtu")), 3);
    EXPECT_EQ(m.error.last_error_message, vtu_open_failed);
    EXPECT_FALSE(fs::exists(dir.file("d.vtu")));
    EXPECT_TRUE(fs::is_directory(dir.file("d.vtu.part")));
    fs::remove(dir.file("d.vtu.part"));
    EXPECT_EQ(side_files(dir.path()), std::vector<std::string>{});
}

TEST(OutputFile, StepCutShortLeavesNoPartialFileAndKeepsTheSeries) {
    TempDir dir;
    Model m;
    fill_block(m, 3000);
    m.control.output_directory = dir.path().string();
    ASSERT_EQ(sph_output_write_step(m, 1, 0.5), 0);
    const std::string csv1 = dir.file("velunor_00000001.csv");
    const std::string vtu1 = dir.file("velunor_00000001.vtu");
    const std::string pvd = dir.file("velunor.pvd");
    const std::string csv1_text = read_file(csv1);
    const std::string vtu1_text = read_file(vtu1);
    const std::string pvd_text = read_file(pvd);
    constexpr rlim_t limit = 64 * 1024;  // far below either file, above the collection
    ASSERT_GT(vtu1_text.size(), 4 * limit);
    ASSERT_GT(csv1_text.size(), 4 * limit);

    int status = 0;
    bool limited = false;
    {
        FileSizeLimit cap(limit);
        limited = cap.active();
        status = sph_output_write_step(m, 2, 1.0);
    }
    ASSERT_TRUE(limited);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(m.error.last_error_message, csv_write_failed);
    EXPECT_FALSE(fs::exists(dir.file("velunor_00000002.csv")));
    EXPECT_FALSE(fs::exists(dir.file("velunor_00000002.vtu")));
    EXPECT_EQ(read_file(pvd), pvd_text);
    EXPECT_EQ(m.pvd.entries.size(), 1u);
    EXPECT_EQ(side_files(dir.path()), std::vector<std::string>{});
    EXPECT_TRUE(vtu_and_pvd_check({pvd, vtu1}));

    // Rewriting complete files, cut short, keeps them as they were.
    {
        FileSizeLimit cap(limit);
        status = sph_output_write_vtu(m, vtu1);
    }
    EXPECT_EQ(status, 3);
    EXPECT_EQ(m.error.last_error_message, vtu_write_failed);
    {
        FileSizeLimit cap(limit);
        status = sph_output_write_csv(m, csv1);
    }
    EXPECT_EQ(status, 3);
    EXPECT_EQ(m.error.last_error_message, csv_write_failed);
    EXPECT_EQ(read_file(vtu1), vtu1_text);
    EXPECT_EQ(read_file(csv1), csv1_text);
    EXPECT_EQ(side_files(dir.path()), std::vector<std::string>{});

    // Without the limit the same step completes and joins the series.
    ASSERT_EQ(sph_output_write_step(m, 2, 1.0), 0);
    EXPECT_EQ(read_file(dir.file("velunor_00000002.csv")), csv1_text);
    EXPECT_EQ(read_file(dir.file("velunor_00000002.vtu")), vtu1_text);
    EXPECT_NE(read_file(pvd).find("velunor_00000002.vtu"), std::string::npos);
    EXPECT_TRUE(vtu_and_pvd_check({pvd, dir.file("velunor_00000002.vtu")}));
}

TEST(OutputFile, StepWhoseSummaryIsCutShortStaysOutOfTheSeries) {
    // An empty model's particle CSV (the header) is shorter than its summary,
    // so a limit between the two lets the CSV complete and cuts the summary
    // short; the step stops there.
    TempDir dir;
    Model m;
    m.control.output_directory = dir.path().string();
    ASSERT_EQ(sph_output_write_step(m, 0, 0.0), 0);
    const std::string csv_text = read_file(dir.file("velunor_00000000.csv"));
    const std::string summary_text = read_file(dir.file("velunor_00000000_summary.csv"));
    const std::string pvd_text = read_file(dir.file("velunor.pvd"));
    ASSERT_LT(csv_text.size() + 100, summary_text.size());

    int status = 0;
    {
        FileSizeLimit cap((csv_text.size() + summary_text.size()) / 2);
        status = sph_output_write_step(m, 1, 1.0);
    }
    EXPECT_EQ(status, 3);
    EXPECT_EQ(m.error.last_error_message, summary_write_failed);
    EXPECT_EQ(read_file(dir.file("velunor_00000001.csv")), csv_text);  // complete
    EXPECT_FALSE(fs::exists(dir.file("velunor_00000001_summary.csv")));
    EXPECT_FALSE(fs::exists(dir.file("velunor_00000001.vtu")));
    EXPECT_EQ(read_file(dir.file("velunor.pvd")), pvd_text);
    EXPECT_EQ(m.pvd.entries.size(), 1u);
    EXPECT_EQ(side_files(dir.path()), std::vector<std::string>{});
    EXPECT_TRUE(vtu_and_pvd_check({dir.file("velunor.pvd")}));
}

}  // namespace
