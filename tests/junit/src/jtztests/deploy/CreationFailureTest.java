package jtztests.deploy;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import puente.ScanMontura;

/** A creation that fails in the class registry or the loader says which file and why (Linux). */
class CreationFailureTest {
    private static String location(Class<?> type) throws Exception {
        return Path.of(type.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "no registry      | COM error 0x80040154: class {834FBEE5-D957-11D3-9C50-0060972F00DC} not registered: the class registry @/com-registry cannot be read (No such file or directory)",
        "no library       | COM error 0x80080005: class {834FBEE5-D957-11D3-9C50-0060972F00DC}: loading @/libGone.so failed: @/libGone.so: cannot open shared object file: No such file or directory",
        "no line          | COM error 0x80040154: class {834FBEE5-D957-11D3-9C50-0060972F00DC} not registered: @/com-registry has no line for it",
    })
    void messageNamesTheFileAndTheReason(String broken, String expected, @TempDir Path folder) throws Exception {
        Path registry = folder.resolve("com-registry");
        if (broken.equals("no library")) {
            Files.writeString(registry, "{834FBEE5-D957-11D3-9C50-0060972F00DC} libGone.so Both\n");
        } else if (broken.equals("no line")) {
            Files.writeString(registry, "# nothing registered\n");
        }
        String java = ProcessHandle.current().info().command().orElseThrow();
        String classPath = location(ScanMontura.class) + File.pathSeparator + location(CreationProbe.class);
        ProcessBuilder builder = new ProcessBuilder(java, "-Xcheck:jni",
                "-Djava.library.path=" + System.getProperty("java.library.path"), "-cp", classPath,
                CreationProbe.class.getName()).redirectErrorStream(true);
        builder.environment().put("JTZCOM_REGISTRY", registry.toString());
        Process process = builder.start();
        String output = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(process.waitFor(60, TimeUnit.SECONDS));
        assertEquals(0, process.exitValue(), output);
        assertEquals("ezjcom.JComException: " + expected.replace("@", folder.toString()), output.strip());
    }
}
