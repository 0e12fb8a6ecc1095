import java.awt.BorderLayout;
import javax.swing.JButton;
import javax.swing.JFrame;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;

/** A Swing window with a text area holding a known text and a button, the text area focused. */
public final class FocusSwing {
    public static void main(String[] args) {
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("focusprobe swing");
            JTextArea text = new JTextArea("hello from swing", 5, 30);
            frame.getContentPane().add(text, BorderLayout.CENTER);
            frame.getContentPane().add(new JButton("Send"), BorderLayout.SOUTH);
            frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
            frame.pack();
            frame.setVisible(true);
            text.requestFocusInWindow();
        });
    }
}
