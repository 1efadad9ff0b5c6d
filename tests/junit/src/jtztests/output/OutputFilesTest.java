package jtztests.output;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Stream;
import jtrazelo.dcs.DcsDocument;
import jtrazelo.dcs.DcsParser;
import jtrazelo.dcs.OutputFiles;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Output written all or nothing, under temporary names, never replacing a file unless asked. */
class OutputFilesTest {
    @TempDir
    Path folder;

    private List<String> listing() throws IOException {
        try (Stream<Path> files = Files.walk(folder)) {
            return files.filter(p -> !p.equals(folder)).map(p -> folder.relativize(p).toString()).sorted().toList();
        }
    }

    private static byte[] bytes(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    @Test
    void filesAppearOnlyWhenPublishedAndThenComplete() throws IOException {
        Path svg = folder.resolve("out/sub/J.svg");
        Path dcs = folder.resolve("out/sub/J.dcs");
        try (OutputFiles files = new OutputFiles(false)) {
            files.check(svg);
            files.check(dcs);
            assertEquals(List.of("out", "out/sub"), listing(), "the checks make the folder, nothing else");
            files.add(svg, bytes("<svg/>"));
            files.add(dcs, bytes("JOB=J\r\n"));
            List<String> staged = listing();
            assertEquals(4, staged.size(), staged.toString());
            assertTrue(staged.get(2).matches("out/sub/\\.J\\.dcs\\.[0-9a-f]{8}\\.tmp"), staged.toString());
            assertFalse(Files.exists(dcs) || Files.exists(svg), "nothing under its name before publishing");
            files.publish();
        }
        assertEquals(List.of("out", "out/sub", "out/sub/J.dcs", "out/sub/J.svg"), listing());
        assertArrayEquals(bytes("JOB=J\r\n"), Files.readAllBytes(dcs));
    }

    @Test
    void anExistingFileIsRefusedAtTheCheckAndAtPublishing() throws IOException {
        Path dcs = folder.resolve("J.dcs");
        Files.write(dcs, bytes("theirs"));
        try (OutputFiles files = new OutputFiles(false)) {
            IOException e = assertThrows(FileAlreadyExistsException.class, () -> files.check(dcs));
            assertTrue(e.getMessage().contains("already exists"), e.getMessage());
        }
        // Taken between the check and the publishing: the first file goes again, the other stays.
        Path svg = folder.resolve("K.svg");
        Path late = folder.resolve("K.dcs");
        try (OutputFiles files = new OutputFiles(false)) {
            files.check(svg);
            files.check(late);
            files.add(svg, bytes("<svg/>"));
            files.add(late, bytes("JOB=K\r\n"));
            Files.write(late, bytes("someone else's"));
            IOException e = assertThrows(IOException.class, files::publish);
            assertTrue(e.getMessage().contains("K.dcs") && e.getMessage().contains("already exists"), e.getMessage());
        }
        assertEquals(List.of("J.dcs", "K.dcs"), listing(), "no K.svg, no temporary files");
        assertArrayEquals(bytes("someone else's"), Files.readAllBytes(late));
        assertArrayEquals(bytes("theirs"), Files.readAllBytes(dcs));
    }

    @Test
    void overwritingReplacesAndAFailureLeavesNothingOfTheSet() throws IOException {
        Path dcs = folder.resolve("J.dcs");
        Files.write(dcs, bytes("old"));
        try (OutputFiles files = new OutputFiles(true)) {
            files.check(dcs);
            files.add(dcs, bytes("new"));
            files.publish();
        }
        assertArrayEquals(bytes("new"), Files.readAllBytes(dcs));

        // The second name cannot be taken (a folder with a file in it): the first is removed again.
        Path svg = folder.resolve("L.svg");
        Path blocked = folder.resolve("L.dcs");
        try (OutputFiles files = new OutputFiles(true)) {
            files.check(svg);
            files.check(blocked);
            files.add(svg, bytes("<svg/>"));
            files.add(blocked, bytes("JOB=L\r\n"));
            Files.createDirectories(blocked.resolve("inside"));
            IOException e = assertThrows(IOException.class, files::publish);
            assertTrue(e.getMessage().contains("L.dcs"), e.getMessage());
        }
        assertEquals(List.of("J.dcs", "L.dcs", "L.dcs/inside"), listing());
    }

    @Test
    void checksSayWhatStandsInTheWayAndAFailedRunLeavesNoFolder() throws IOException {
        Files.write(folder.resolve("file"), bytes("x"));
        Files.createDirectories(folder.resolve("dir.dcs"));
        try (OutputFiles files = new OutputFiles(true)) {
            assertTrue(assertThrows(IOException.class, () -> files.check(folder.resolve("file/J.dcs")))
                    .getMessage().contains("is not a folder"));
            assertTrue(assertThrows(IOException.class, () -> files.check(folder.resolve("dir.dcs")))
                    .getMessage().contains("is a folder"));
            files.check(folder.resolve("new/deeper/J.dcs"));
            assertTrue(Files.isDirectory(folder.resolve("new/deeper")));
        }
        assertEquals(List.of("dir.dcs", "file"), listing(), "closed unpublished: the folders it made are gone");
    }

    @Test
    void aJobIsWrittenUnderItsNameOrNotAtAll() throws IOException {
        DcsDocument job = DcsDocument.builder().job("L-20441").dbl(18).build();
        Path written = OutputFiles.writeJob(job, folder.resolve("lab/in"), false);
        assertEquals(folder.resolve("lab/in/L-20441.dcs"), written);
        assertEquals(job, DcsParser.parse(written));
        assertThrows(FileAlreadyExistsException.class,
                () -> OutputFiles.writeJob(job, folder.resolve("lab/in"), false));
        for (DcsDocument unnamed : List.of(DcsDocument.builder().dbl(18).build(), job.toBuilder().job("a b").build(),
                job.toBuilder().job("COM1.dcs").build())) {
            assertThrows(IllegalArgumentException.class,
                    () -> OutputFiles.writeJob(unnamed, folder.resolve("x"), true));
        }
        assertEquals(List.of("lab", "lab/in", "lab/in/L-20441.dcs"), listing(), "nothing else, no folder x");
    }
}
