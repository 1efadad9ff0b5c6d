package jtztests.tracer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import ezjcom.JComException;
import java.util.concurrent.Semaphore;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import puente.IScanMontura;
import puente.ScanMontura;
import puente.ScanMonturaAdapter;
import puente.TxEditCharCase;

/** The component's edit control as a Java developer drives it. */
class EditControlTest {
    private final IScanMontura edit = ScanMontura.create().dispatch();

    /** Types {@code text} at the caret, as the user would. */
    private void type(String text) {
        edit.setSelText(text);
    }

    private void select(int start, int length) {
        edit.setSelStart(start);
        edit.setSelLength(length);
    }

    @Test
    void typeSelectCutPasteUndo() {
        edit.setText("");
        type("Frame ");
        type("tracer");
        assertEquals("Frame tracer", edit.getText());
        assertEquals(12, edit.getSelStart(), "caret after the typed text");

        select(0, 6);
        assertEquals("Frame ", edit.getSelText());
        edit.CutToClipboard();
        assertEquals("tracer", edit.getText());
        assertEquals(0, edit.getSelLength());

        select(6, 0);
        edit.PasteFromClipboard();
        assertEquals("tracerFrame ", edit.getText());
        assertTrue(edit.getCanUndo());

        edit.Undo();
        assertEquals("tracer", edit.getText(), "undo takes back the paste");
        edit.ClearUndo();
        assertFalse(edit.getCanUndo());
    }

    @Test
    void selectionFollowsTheText() {
        edit.setText("0123456789");
        edit.SelectAll();
        assertEquals(0, edit.getSelStart());
        assertEquals(10, edit.getSelLength());
        select(7, 50);
        assertEquals("789", edit.getSelText(), "a selection past the end is clamped");
        edit.setText("abc");
        assertTrue(edit.getSelStart() + edit.getSelLength() <= 3);
        edit.SelectAll();
        edit.ClearSelection();
        assertEquals("", edit.getText());
    }

    @Test
    void copyLeavesTheTextAndPastesElsewhere() {
        IScanMontura other = ScanMontura.create().dispatch();
        edit.setText("copied");
        edit.SelectAll();
        edit.CopyToClipboard();
        assertEquals("copied", edit.getText());
        other.setText("");
        other.PasteFromClipboard();
        assertEquals("copied", other.getText());
    }

    @Test
    void limitsCaseAndModifiedFlag() {
        edit.setMaxLength(5);
        edit.setText("abcdefgh");
        assertEquals("abcde", edit.getText());
        edit.setMaxLength(0);
        edit.setCharCase(TxEditCharCase.ecUpperCase);
        edit.setText("Mixed Case");
        assertEquals("MIXED CASE", edit.getText());
        assertTrue(edit.getModified());
        edit.setModified(false);
        assertFalse(edit.getModified());
    }

    @Test
    void readOnlyControlRefusesEditsWithItsReason() {
        edit.setText("fixed");
        edit.setReadOnly(true);
        for (Runnable change : new Runnable[] {() -> edit.setText("x"), () -> type("x"), edit::Clear,
                edit::CutToClipboard, edit::PasteFromClipboard}) {
            JComException e = assertThrows(JComException.class, change::run);
            assertEquals(0x80070005, e.getHResult());
            assertEquals("The control is read-only", e.getDescription());
        }
        assertEquals("fixed", edit.getText());
        edit.setReadOnly(false);
        edit.Clear();
        assertEquals("", edit.getText());
    }

    @Test
    void everyTextChangeIsAnEvent() throws Exception {
        Semaphore changes = new Semaphore(0);
        ScanMonturaAdapter listener = new ScanMonturaAdapter() {
            @Override
            public void OnChange() {
                changes.release();
            }
        };
        ScanMontura component = ScanMontura.create();
        IScanMontura control = component.dispatch();
        listener.connect(component);
        control.setText("one");
        control.setSelStart(3);
        control.setSelText(" two");
        control.SelectAll();
        control.CutToClipboard();
        assertTrue(changes.tryAcquire(3, 20, TimeUnit.SECONDS), "three changes, three events");
        listener.disconnect();
    }
}
