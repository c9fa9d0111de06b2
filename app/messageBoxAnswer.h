#ifndef MESSAGEBOXANSWER_H
#define MESSAGEBOXANSWER_H

class QObject;

/*
 * For unattended runs and the end-to-end tests: when the environment
 * variable RK_ANSWER_MESSAGE_BOXES is present, every message box is answered
 * with its OK button as soon as it shows, the way a user would, after its
 * caption and text have been written to the debugger output so that the run
 * still tells what the user would have read. Without the variable nothing
 * changes. The watch lives as long as owner.
 */
void answerMessageBoxesIfAsked(QObject* owner);

#endif /* MESSAGEBOXANSWER_H */
