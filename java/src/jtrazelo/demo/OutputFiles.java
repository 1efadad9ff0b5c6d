package jtrazelo.demo;

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

/**
 * A set of output files written all or nothing, for a folder that another program watches.
 *
 * <pre>{@code
 * try (OutputFiles files = new OutputFiles(false)) {
 *     files.check(dcs);                 // before the work: folder writable, file not there
 *     ...
 *     files.add(svg, svgBytes);         // written under a temporary name in the same folder
 *     files.add(dcs, dcsBytes);
 *     files.publish();                  // renamed into place, in this order
 * }
 * }</pre>
 *
 * <p>Each file is written to a hidden temporary name ({@code .NAME.xxxxxxxx.tmp}) in its own
 * folder and forced to disk; {@link #publish()} then gives each its name in the order added, so a
 * watcher that waits for the last one finds the others in place. Without overwriting, a name is
 * taken with a hard link, which fails when the name exists, even if another program took it a
 * moment before. When any step fails, what this set published is removed again, with its temporary
 * files and the folders {@link #check(Path)} created, and the exception says which file failed;
 * {@link #close()} removes what is left unpublished. Replaced files (with overwriting) are not
 * restored.
 */
public final class OutputFiles implements AutoCloseable {
    private static final SecureRandom RANDOM = new SecureRandom();

    private final boolean overwrite;
    private final Map<Path, Path> staged = new LinkedHashMap<>();
    private final List<Path> published = new ArrayList<>();
    private final List<Path> createdFolders = new ArrayList<>();
    private boolean done;

    /**
     * Makes an empty set.
     *
     * @param overwrite true to replace existing files, false to refuse them
     */
    public OutputFiles(boolean overwrite) {
        this.overwrite = overwrite;
    }

    /**
     * Checks that {@code target} can be written: its folder exists (created when missing) and takes
     * a new file, and the name is free (or, when overwriting, not a folder).
     *
     * @param target the file to write later
     * @throws IOException saying what stands in the way
     */
    public void check(Path target) throws IOException {
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
    public void add(Path target, byte[] content) throws IOException {
        Path file = target.toAbsolutePath().normalize();
        if (done || staged.containsKey(file)) {
            throw new IllegalStateException(done ? "already published or closed" : target + " added twice");
        }
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
    public void publish() throws IOException {
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

    /** Removes the temporary files not published and, unless published, the folders created. */
    @Override
    public void close() {
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
