/**
 * DCS files, the text format in which tracers and lab systems exchange jobs: read any DCS file
 * with {@link jtrazelo.dcs.DcsParser}, write one with {@link jtrazelo.dcs.DcsWriter}, and make a
 * job's document from traces with {@link jtrazelo.dcs.DcsJob}. Records the package does not
 * interpret (vendor labels, binary trace formats) are kept and written back unchanged.
 */
package jtrazelo.dcs;
