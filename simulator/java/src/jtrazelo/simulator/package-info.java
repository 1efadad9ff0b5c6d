/**
 * The simulated component's bench, {@link jtrazelo.simulator.SimulatedBench}, in its own jar
 * ({@code scanmontura-sim.jar}): type into the edit control, choose or empty the frame of a port,
 * make a member fail. For trying a program without a tracer.
 */
package jtrazelo.simulator;
