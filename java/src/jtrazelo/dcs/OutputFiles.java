package jtrazelo.dcs;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.security.SecureRandom;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;

/**
 * Output files written all or nothing, for a folder that another program watches: a lab system
 * that takes each job file as soon as it appears must never see half a file, nor a job whose
 * other files are still missing.
 *
 * <p>{@link #writeJob(DcsDocument, Path, boolean)} writes one document as {@code <job>.dcs}. A set
 * of several files (a job and its picture, say) goes through an instance:
 *
 * <pre>{@code
 * try (OutputFiles files = new OutputFiles(false)) {
 *     files.check(svg);                 // before the work: folder writable, names free
 *     files.check(dcs);
 *     ...
 *     files.add(svg, svgBytes);         // written under a temporary name in the same folder
 *     files.add(dcs, DcsWriter.toBytes(document));
 *     files.publish();                  // renamed into place, in this order
 * }
 * }</pre>
 *
 * <p>Each file is written to a hidden temporary name ({@code .NAME.xxxxxxxx.tmp}) in its own
 * folder and forced to disk; {@link #publish()} then gives each its name in the order added, so a
 * watcher that waits for the last one finds the others in place. Without overwriting, a name is
 * taken with a hard link, which fails when the name exists, even if another program took it a
 * moment before. When any step fails, what this set published is removed again, with its temporary
 * files and the folders {@link #check(Path)} or {@link #add(Path, byte[])} created, and the
 * exception says which file failed; {@link #close()} removes what is left unpublished. Replaced
 * files (with overwriting) are not restored. Nothing else is ever removed: a created folder that
 * holds another program's files by then stays.
 *
 * <p>The same cleaning is done when the Java virtual machine stops before the set is published or
 * closed: on {@code SIGTERM} or {@code SIGINT}, or {@link System#exit(int)} from another thread, a
 * shutdown hook of the set removes its temporary files and created folders (waiting for a
 * {@link #publish()} under way to end, which leaves either every file or none). A process killed
 * outright ({@code SIGKILL}, a crash) runs no hook: its temporary files stay hidden, never under a
 * job's name. The methods may be called from any thread.
 */
public final class OutputFiles implements AutoCloseable {
    private static final SecureRandom RANDOM = new SecureRandom();
    private static final Pattern JOB_NAME = Pattern.compile("[A-Za-z0-9][A-Za-z0-9._-]{0,63}");
    /** Names that Windows keeps for devices, with any extension: no file can have them. */
    private static final Pattern DEVICE_NAME = Pattern.compile("(?i)(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])(\\..*)?");

    private final boolean overwrite;
    private final Map<Path, Path> staged = new LinkedHashMap<>();
    private final List<Path> published = new ArrayList<>();
    private final List<Path> createdFolders = new ArrayList<>();
    private boolean done;
    /** Cleans up when the JVM stops while files or folders of this set exist; null when none do. */
    private Thread hook;

    /**
     * Makes an empty set.
     *
     * @param overwrite true to replace existing files, false to refuse them
     */
    public OutputFiles(boolean overwrite) {
        this.overwrite = overwrite;
    }

    /**
     * Checks that a job name can name files: 1 to 64 letters, digits, '.', '-' or '_', starting
     * with a letter or digit, and no device name of Windows ({@code CON}, {@code NUL.txt}...).
     *
     * @param job the job name
     * @throws IllegalArgumentException saying why it cannot
     */
    public static void checkJobName(String job) {
        if (!JOB_NAME.matcher(job).matches()) {
            throw new IllegalArgumentException("must be 1 to 64 letters, digits, '.', '-' or '_', starting with"
                    + " a letter or digit, not \"" + job + "\"");
        }
        if (DEVICE_NAME.matcher(job).matches()) {
            throw new IllegalArgumentException("\"" + job + "\" is a device name on Windows: no file can be named"
                    + " after it");
        }
    }

    /**
     * Writes a document as {@code <job>.dcs} in a folder, all or nothing: under a temporary name,
     * then renamed. The folder is created when missing (and removed again when the file cannot be
     * written).
     *
     * @param document the document; its job name names the file ({@link #checkJobName(String)})
     * @param folder the folder
     * @param overwrite true to replace a file of that name, false to refuse it
     * @return the file written
     * @throws IOException when the file cannot be written, or exists and {@code overwrite} is false
     *     ({@link java.nio.file.FileAlreadyExistsException}); nothing is left then
     * @throws IllegalArgumentException when the document has no job name, or one that cannot name
     *     a file
     */
    public static Path writeJob(DcsDocument document, Path folder, boolean overwrite) throws IOException {
        String job = document.job().orElseThrow(() -> new IllegalArgumentException("the document has no job name"));
        try {
            checkJobName(job);
        } catch (IllegalArgumentException e) {
            throw new IllegalArgumentException("the job name " + e.getMessage(), e);
        }
        Path file = folder.resolve(job + ".dcs");
        try (OutputFiles files = new OutputFiles(overwrite)) {
            files.check(file);
            files.add(file, DcsWriter.toBytes(document));
            files.publish();
        }
        return file;
    }

    /**
     * Checks that {@code target} can be written: its folder exists (created when missing) and takes
     * a new file, and the name is free (or, when overwriting, not a folder).
     *
     * @param target the file to write later
     * @throws IOException saying what stands in the way
     * @throws IllegalStateException when the set was published or closed
     */
    public synchronized void check(Path target) throws IOException {
        guard();
        Path file = target.toAbsolutePath().normalize();
        Path folder = file.getParent();
        if (folder == null) {
            throw new IOException(target + " is not a file name");
        }
        createFolders(folder);
        if (Files.isDirectory(file)) {
            throw new IOException(target + " is a folder");
        }
        if (!overwrite && Files.exists(file, LinkOption.NOFOLLOW_LINKS)) {
            throw new FileAlreadyExistsException(target.toString(), null,
                    "already exists (choose another job name, or overwrite)");
        }
        Path probe = createTemporary(file);
        Files.delete(probe);
    }

    private void createFolders(Path folder) throws IOException {
        List<Path> missing = new ArrayList<>();
        for (Path p = folder; p != null && !Files.exists(p); p = p.getParent()) {
            missing.add(0, p);
        }
        for (Path p : missing) {
            try {
                Files.createDirectory(p);
                createdFolders.add(p);
            } catch (FileAlreadyExistsException e) {
                // made by someone else meanwhile: fine when it is a folder
            }
        }
        if (!Files.isDirectory(folder)) {
            throw new IOException(folder + " is not a folder");
        }
    }

    /**
     * Writes {@code content} for {@code target} under a temporary name in the target's folder and
     * forces it to disk.
     *
     * @param target the file's name
     * @param content the file's bytes
     * @throws IOException when it cannot be written (the temporary file is removed)
     * @throws IllegalStateException when the set was published or closed, or has {@code target}
     */
    public synchronized void add(Path target, byte[] content) throws IOException {
        Path file = target.toAbsolutePath().normalize();
        if (done || staged.containsKey(file)) {
            throw new IllegalStateException(done ? "already published or closed" : target + " added twice");
        }
        guard();
        createFolders(file.getParent());
        Path temporary = createTemporary(file);
        staged.put(file, temporary);
        try (FileChannel channel = FileChannel.open(temporary, StandardOpenOption.WRITE)) {
            ByteBuffer buffer = ByteBuffer.wrap(content);
            while (buffer.hasRemaining()) {
                channel.write(buffer);
            }
            channel.force(true);
        } catch (IOException e) {
            throw new IOException("could not write " + target + ": " + e.getMessage(), e);
        }
    }

    /**
     * Gives every added file its name, in the order added.
     *
     * @throws IOException when a name cannot be taken; nothing of this set is left then
     */
    public synchronized void publish() throws IOException {
        if (done) {
            throw new IllegalStateException("already published or closed");
        }
        done = true;
        try {
            for (Map.Entry<Path, Path> entry : staged.entrySet()) {
                take(entry.getValue(), entry.getKey());
                published.add(entry.getKey());
            }
            staged.clear();
        } catch (IOException e) {
            rollBack(e);
            throw e;
        }
        createdFolders.clear();
        unguard();
    }

    /**
     * Registers the shutdown hook before the first file or folder is made.
     *
     * @throws IOException when the JVM is stopping already: nothing is made then
     */
    private void guard() throws IOException {
        if (hook != null) {
            return;
        }
        if (done) {
            throw new IllegalStateException("already published or closed");
        }
        Thread cleaner = new Thread(this::close, "OutputFiles cleanup");
        try {
            Runtime.getRuntime().addShutdownHook(cleaner);
        } catch (IllegalStateException e) {
            throw new IOException("the program is stopping: no output is written", e);
        }
        hook = cleaner;
    }

    /** Removes the shutdown hook: nothing is left to clean. */
    private void unguard() {
        Thread cleaner = hook;
        hook = null;
        if (cleaner != null && cleaner != Thread.currentThread()) {
            try {
                Runtime.getRuntime().removeShutdownHook(cleaner);
            } catch (IllegalStateException e) {
                // the JVM is stopping: the hook runs and finds nothing to do
            }
        }
    }

    private void take(Path temporary, Path target) throws IOException {
        try {
            if (overwrite) {
                try {
                    Files.move(temporary, target, StandardCopyOption.ATOMIC_MOVE);
                } catch (AtomicMoveNotSupportedException e) {
                    Files.move(temporary, target, StandardCopyOption.REPLACE_EXISTING);
                }
                return;
            }
            try {
                Files.createLink(target, temporary);
            } catch (FileAlreadyExistsException e) {
                throw e;
            } catch (UnsupportedOperationException | FileSystemException e) {
                // No hard links here: a move that refuses an existing name (checked, then renamed).
                Files.move(temporary, target);
                return;
            }
            deleteQuietly(temporary, null);  // the file is in place under its name either way
        } catch (FileAlreadyExistsException e) {
            throw new FileAlreadyExistsException(target.toString(), null, "already exists; nothing was written");
        } catch (IOException e) {
            throw new IOException("could not write " + target + ": " + e + "; nothing was written", e);
        }
    }

    /** Removes what was published, the temporary files and the created folders. */
    private void rollBack(IOException cause) {
        for (Path file : published) {
            deleteQuietly(file, cause);
        }
        published.clear();
        close();
    }

    /**
     * Removes the temporary files not published and, unless published, the folders created; after
     * {@link #publish()} it does nothing. Called again, it does nothing.
     */
    @Override
    public synchronized void close() {
        done = true;
        for (Path temporary : staged.values()) {
            deleteQuietly(temporary, null);
        }
        staged.clear();
        for (int i = createdFolders.size() - 1; i >= 0; i--) {
            try {
                Files.deleteIfExists(createdFolders.get(i));
            } catch (DirectoryNotEmptyException e) {
                break;  // someone else's files are there now
            } catch (IOException e) {
                // left behind: an empty folder
            }
        }
        createdFolders.clear();
        unguard();
    }

    private static void deleteQuietly(Path file, IOException cause) {
        try {
            Files.deleteIfExists(file);
        } catch (IOException e) {
            if (cause != null) {
                cause.addSuppressed(e);
            }
        }
    }

    /** Creates an empty file with a fresh hidden name beside {@code target}. */
    private static Path createTemporary(Path target) throws IOException {
        for (int attempt = 0; ; attempt++) {
            String name = String.format(".%s.%08x.tmp", target.getFileName(), RANDOM.nextInt());
            Path temporary = target.resolveSibling(name);
            try {
                // The new file gets the usual permissions (unlike createTempFile's owner-only ones).
                Files.newByteChannel(temporary, StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE).close();
                return temporary;
            } catch (FileAlreadyExistsException e) {
                if (attempt == 10) {
                    throw e;
                }
            }
        }
    }
}
