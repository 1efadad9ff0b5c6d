package jtztests.wrappers;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import ezjcom.JComEventListener;
import ezjcom.JComException;
import java.awt.Color;
import java.util.EnumSet;
import org.junit.jupiter.api.Nested;
import org.junit.jupiter.api.Test;
import puente.IScanMontura;
import puente.IScanMonturaEvents;
import puente.ScanMontura;
import puente.TxDragMode;
import puente.TxEditCharCase;
import puente.TxFormBorderStyle;
import puente.TxImeMode;

/** What a Java developer does with the puente wrappers: create, bind, call, convert. */
class WrapperTest {
    static final String CLSID = "{834FBEE5-D957-11D3-9C50-0060972F00DC}";

    /** A class with a no-argument constructor that leaves a mark. */
    public static class WithDefaultConstructor {
        public int mark = 7;
        public final String made;

        public WithDefaultConstructor() {
            made = "by constructor";
        }
    }

    /** A class whose only constructor takes an argument. */
    public static class WithoutDefaultConstructor {
        public int mark = 7;

        public WithoutDefaultConstructor(int mark) {
            this.mark = mark;
        }
    }

    @Nested
    class StaticNatives {
        @Test
        void guidIsTheComponentsClsid() {
            assertEquals(CLSID, ScanMontura.__JComGetGUID());
        }

        @Test
        void newObjectRunsTheNoArgumentConstructor() {
            Object made = ScanMontura.__JComNewObj(WithDefaultConstructor.class);
            WithDefaultConstructor object = assertInstanceOf(WithDefaultConstructor.class, made);
            assertEquals(7, object.mark);
            assertEquals("by constructor", object.made);
        }

        @Test
        void newObjectWithoutNoArgumentConstructorRunsNone() {
            Object made = ScanMontura.__JComNewObj(WithoutDefaultConstructor.class);
            WithoutDefaultConstructor object = assertInstanceOf(WithoutDefaultConstructor.class, made);
            assertEquals(0, object.mark, "field initialisers belong to a constructor that did not run");
        }

        @Test
        void wrapperMadeWithoutConstructorStillTakesListeners() {
            ScanMontura unbound = (ScanMontura) ScanMontura.__JComNewObj(ScanMontura.class);
            assertFalse(unbound.isBound());
            unbound.addServerSideListener((name, args) -> {});
        }
    }

    @Nested
    class Creation {
        @Test
        void createBindsANewInstanceEachTime() {
            ScanMontura first = ScanMontura.create();
            ScanMontura second = ScanMontura.create();
            assertTrue(first.isBound());
            assertTrue(second.isBound());
            IScanMontura a = first.dispatch();
            IScanMontura b = second.dispatch();
            a.setText("first");
            b.setText("second");
            assertEquals("first", a.getText());
            assertEquals("second", b.getText());
        }

        @Test
        void runningInstanceIsSharedByActiveAndAttachOrCreate() {
            ScanMontura.create();  // makes sure one runs
            IScanMontura active = ScanMontura.getActive().dispatch();
            IScanMontura attached = ScanMontura.attachOrCreate().dispatch();
            active.setText("seen by both");
            assertEquals("seen by both", attached.getText());
        }

        @Test
        void bindingTwiceGivesWrappersOfOneComponent() {
            ScanMontura component = ScanMontura.create();
            IScanMontura one = component.dispatch();
            IScanMontura two = IScanMontura.bind(component);
            one.setMaxLength(12);
            assertEquals(12, two.getMaxLength());
        }

        @Test
        void eventInterfaceBinds() {
            IScanMonturaEvents events = ScanMontura.create().events();
            assertTrue(events.isBound());
        }

        @Test
        void bindingFromAnUnboundWrapperFails() {
            assertThrows(JComException.class, () -> IScanMontura.bind(new ScanMontura()));
            assertFalse(new IScanMonturaEvents().__JComLoad(new ScanMontura(), false));
        }

        @Test
        void membersOfAnUnboundWrapperThrow() {
            NullPointerException e = assertThrows(NullPointerException.class, () -> new IScanMontura().getText());
            assertEquals("Uninitialized JComObject", e.getMessage());
        }

        @Test
        void remoteCreationOnTheLoopbackMachineReachesTheRunningInstance() {
            ScanMontura.createRemote("localhost", null, null, null, 0);
            assertTrue(ScanMontura.getActive().isBound());
        }

        @Test
        void remoteCreationOnAnUnknownMachineFailsWithTheComError() {
            JComException e = assertThrows(JComException.class,
                    () -> ScanMontura.createRemote("no-such-machine.invalid", "user", "domain", "secret", 0));
            assertEquals(0x800706BA, e.getHResult());
        }

        @Test
        void remoteCreationWithoutMachineName() {
            NullPointerException e = assertThrows(NullPointerException.class,
                    () -> ScanMontura.__JComCreateObjectRemote(null, null, null, null, 0));
            assertEquals("RemoteMachine name is null", e.getMessage());
        }
    }

    @Nested
    class ValueKinds {
        private final IScanMontura control = ScanMontura.create().dispatch();

        @Test
        void enumerationsRoundTripThroughTheComponent() {
            for (TxFormBorderStyle style : TxFormBorderStyle.values()) {
                control.setBorderStyle(style);
                assertSame(style, control.getBorderStyle());
            }
            for (TxImeMode mode : TxImeMode.values()) {
                control.setImeMode(mode);
                assertSame(mode, control.getImeMode());
            }
            control.setDragMode(TxDragMode.dmAutomatic);
            assertSame(TxDragMode.dmAutomatic, control.getDragMode());
            control.setCharCase(TxEditCharCase.ecLowerCase);
            assertSame(TxEditCharCase.ecLowerCase, control.getCharCase());
        }

        @Test
        void enumerationValuesAreTheComponentsNumbers() {
            assertEquals(5, TxFormBorderStyle.bsSizeToolWin.value());
            assertEquals(11, TxImeMode.imHanguel.value());
            assertEquals(2, TxEditCharCase.ecLowerCase.value());
            for (TxImeMode mode : EnumSet.allOf(TxImeMode.class)) {
                assertSame(mode, TxImeMode.fromValue(mode.value()));
            }
            IllegalArgumentException e = assertThrows(IllegalArgumentException.class, () -> TxDragMode.fromValue(7));
            assertEquals("No TxDragMode with value 7", e.getMessage());
            assertThrows(IllegalArgumentException.class, () -> TxFormBorderStyle.fromValue(-1));
        }

        @Test
        void nullEnumerationIsRefused() {
            assertThrows(NullPointerException.class, () -> control.setDragMode(null));
        }

        @Test
        void coloursKeepTheirChannels() {
            Color colour = new Color(0x12, 0x34, 0x56);
            control.setColor(colour);
            assertEquals(colour, control.getColor());
            NullPointerException e = assertThrows(NullPointerException.class, () -> control.setColor(null));
            assertEquals("Argument 1 is null", e.getMessage());
        }

        @Test
        void textIsUtf16Exactly() {
            String text = "Größe \uD83D\uDC53 50\u00B0";
            control.setText(text);
            assertEquals(text, control.getText());
            control.setImeName("");
            assertEquals("", control.getImeName());
        }

        @Test
        void componentErrorCarriesHresultAndDescription() {
            control.setReadOnly(true);
            JComException e = assertThrows(JComException.class, () -> control.setText("refused"));
            assertEquals(0x80070005, e.getHResult());
            assertEquals("The control is read-only", e.getDescription());
            assertTrue(e.getMessage().contains("0x80070005"), e.getMessage());
        }
    }

    @Nested
    class ServerSideEvents {
        @Test
        void registrationReturnsListenerAndCookie() {
            ScanMontura component = ScanMontura.create();
            Object[] registration = component.registerServerSideEvents();
            assertEquals(2, registration.length);
            JComEventListener listener = assertInstanceOf(JComEventListener.class, registration[0]);
            assertNotEquals(0, listener.eventId);
            assertTrue(assertInstanceOf(Integer.class, registration[1]) > 0);
        }

        @Test
        void unknownInterfaceNamesAreRefused() {
            ScanMontura component = ScanMontura.create();
            for (String name : new String[] {"puente/IScanMonturaEvents", "puente.iscanmonturaevents",
                    "IScanMonturaEvents", "puente.IScanMonturaEvents "}) {
                assertNull(component.__RemoteEventAdd(name), name);
            }
        }

        @Test
        void eventsReachTheServerSideListeners() throws Exception {
            ScanMontura component = ScanMontura.create();
            Events.Recorder recorder = new Events.Recorder();
            component.addServerSideListener(recorder);
            component.registerServerSideEvents();
            component.dispatch().setText("changed");
            Events.Seen first = recorder.next();
            assertEquals("OnChange", first.name());
            assertArrayEquals(new Object[0], first.args());
        }
    }
}
