/**
 * The main program of {@code jtrazelo.jar}, {@link jtrazelo.demo.ScanFrame}: scans a frame from
 * the command line and writes its DCS file and SVG picture. Its source shows the other packages
 * used together; run it with {@code --help} for its options.
 */
package jtrazelo.demo;
